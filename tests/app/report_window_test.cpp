// The recording report window, a view of the recording model opened from
// View > 録音の診断: the same JSON as the command for the same file, nothing
// computed while it is closed, Copy, and a new file while it is shown.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QTest>
#include <cstdint>
#include <vector>

#include "analysis/recording_report.h"
#include "analysis/worker_pool.h"
#include "app/report_command.h"
#include "app/report_window.h"
#include "app_test_util.h"

namespace vurma::app::test {
namespace {

QAction* FindAction(QWidget* window, const char* text) {
    for (QAction* action : window->findChildren<QAction*>())
        if (action->text() == QString::fromUtf8(text)) return action;
    return nullptr;
}

TEST(ReportWindow, ShowsTheCommandsNumbersOnlyWhileShown) {
    EnsureApp();
    ReportRecorder rec;
    const ScratchDir dir("reportwin");
    const std::string path = dir / "tone.wav";
    vurma::test::WriteWav(path, 2, 16, 44100, vurma::test::Sine(2, 44100, 5 * 44100, 1000, 12000));
    const std::string other = dir / "other.wav";
    vurma::test::WriteWav(other, 1, 24, 48000, vurma::test::Sine(1, 48000, 48000 * 4, 440, 900000));

    const std::shared_ptr<media::IEngine> engine = media::CreateGstEngine();
    RecordingReport expected;
    std::string error;
    ASSERT_TRUE(ReportFile(engine, path, &expected, &error)) << error;

    TestDialog d(engine);
    d.show();
    ASSERT_TRUE(vurma::test::OpenAndWait(d, QString::fromStdString(path)));
    RecordingModel* model = d.m_model;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return model->stage() == RecordingModel::Stage::Captured; }, 20000));
    QTest::qWait(50);
    EXPECT_EQ(WorkerPool::Shared().Busy(), 0);  // no report window yet: nothing computed

    QAction* action = FindAction(&d, "録音の診断(&R)");
    ASSERT_NE(action, nullptr);
    action->trigger();
    auto* window = d.findChild<ReportWindow*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->json().empty(); }, 20000));
    expected.file = model->path().toStdString();
    EXPECT_EQ(window->json(), ReportJson(expected));

    QPushButton* copy = window->findChild<QPushButton*>();
    ASSERT_NE(copy, nullptr);
    copy->click();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), window->json());

    // Another file while the window is shown: its report replaces the first.
    ASSERT_TRUE(vurma::test::OpenAndWait(d, QString::fromStdString(other)));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->json().find("other.wav") != std::string::npos; }, 20000));
    EXPECT_NE(window->json().find("\"sample_format\": \"s24\""), std::string::npos);

    // Closed, it computes nothing for the next file.
    window->close();
    ASSERT_TRUE(vurma::test::OpenAndWait(d, QString::fromStdString(path)));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return model->stage() == RecordingModel::Stage::Captured; }, 20000));
    QTest::qWait(50);
    EXPECT_FALSE(window->computing());
    EXPECT_TRUE(window->json().empty());
    d.close();
}

}  // namespace
}  // namespace vurma::app::test
