// A named pipe with no writer opened in the window on the real engine: the
// media framework blocks in the pipe's open, the window does not.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <chrono>
#include <memory>

#include "dialog_probe.h"
#include "media/background.h"
#include "media/media_session.h"
#include "test_gui.h"
#include "test_support.h"

namespace vurma::app {
namespace {

using namespace std::chrono_literals;

TEST(NamedPipeLoad, TheWindowAnswersAndClosesWithinASecond) {
    vurma::test::EnsureApp();
    vurma::test::ReportRecorder reports;
    vurma::test::ScratchDir dir("fifo");
    const std::string path = dir / "silent.wav";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    auto d = std::make_unique<test::TestDialog>(media::CreateGstEngine());
    d->show();
    QElapsedTimer clock;
    clock.start();
    d->OpenMediaFile(QString::fromStdString(path));
    QTest::qWait(200);  // the load is inside the framework by now
    EXPECT_TRUE(d->loadPending());
    QMenu* file = d->m_menuBar->findChildren<QMenu*>().at(0);
    file->popup(d->mapToGlobal(QPoint(0, 0)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 500));
    file->close();
    d->close();
    EXPECT_FALSE(d->isVisible());
    EXPECT_LT(clock.elapsed(), 1000);

    // Writers that open and close at once let the abandoned load end (the
    // framework may open the pipe more than once); then nothing of it is
    // left running.
    bool idle = false;
    for (int i = 0; i < 200 && !idle; ++i) {
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
        idle = media::WaitForDetachedJobs(50ms);
    }
    EXPECT_TRUE(idle);
    d.reset();
    EXPECT_TRUE(reports.texts.empty());
}

}  // namespace
}  // namespace vurma::app
