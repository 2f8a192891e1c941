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

#include "analyzer_dlg.h"
#include "media/background.h"
#include "media/media_session.h"
#include "test_gui.h"
#include "test_support.h"

namespace vurma::app {
namespace {

using namespace std::chrono_literals;

TEST(NamedPipeLoad, TheWindowAnswersAndClosesWithinASecond) {
    test::EnsureApp();
    test::ReportRecorder reports;
    test::ScratchDir dir("fifo");
    const std::string path = dir / "silent.wav";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    auto d = std::make_unique<CAnalyzerDlg>(media::CreateGstEngine());
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

    // A writer that opens and closes at once lets the abandoned load end;
    // then nothing of it is left running.
    int writer = -1;
    for (int i = 0; i < 500 && writer < 0; ++i) {
        writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer < 0) QTest::qWait(10);
    }
    ASSERT_GE(writer, 0);
    ::close(writer);
    EXPECT_TRUE(media::WaitForDetachedJobs(10s));
    d.reset();
    EXPECT_TRUE(reports.texts.empty());
}

}  // namespace
}  // namespace vurma::app
