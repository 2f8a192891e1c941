// Entry point: headless command-line modes first, otherwise the window.
#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "analysis/report_error.h"
#include "analyzer_app.h"
#include "analyzer_dlg.h"
#include "app_strings.h"
#include "command_line.h"
#include "media/background.h"
#include "media/media_session.h"
#include "translation.h"

namespace {

void ShowReport(const vurma::Report& report) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(vurma::app::kStrCaption),
                    QString::fromStdString(report.text), QMessageBox::Ok);
    // The file concerned and the decoder's own reason, on request.
    if (!report.details.empty()) box.setDetailedText(QString::fromStdString(report.details));
    box.exec();
}

// --screenshot OUT.png [--wait-ms N] [FILE]: shows the window, optionally
// opens FILE, waits, writes a picture of the window and closes it.
int RunScreenshot(int argc, char** argv) {
    QString out;
    QString file;
    int waitMs = 500;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            out = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--wait-ms") == 0 && i + 1 < argc) {
            waitMs = std::atoi(argv[++i]);
        } else {
            file = QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath();
        }
    }
    using vurma::app::CAnalyzerDlg;
    auto dlg = std::make_unique<CAnalyzerDlg>(CAnalyzerDlg::DeferEngine{});
    int rc = 1;
    vurma::app::AttachEngineAfterFirstPaint(dlg.get(), vurma::media::CreateGstEngine, [&] {
        if (!file.isEmpty()) dlg->OpenMediaFile(file);
        QTimer::singleShot(waitMs, dlg.get(), [&] {
            rc = dlg->grab().save(out) ? 0 : 1;
            dlg->close();
        });
    });
    dlg->exec();
    return rc;
}

// The window has gone: graphs still being torn down in the background get a
// moment to finish, so that none runs into the process's exit (the audio
// output's own teardown aborts then). One that hangs is left behind.
int LetTeardownsFinish(int exitCode) {
    vurma::media::WaitForDetachedJobs(std::chrono::seconds(2));
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    // The language follows the user's choice, else the desktop's; the
    // command-line modes speak it too.
    vurma::app::LoadLanguage(
        vurma::app::ChoosesEnglish(vurma::app::StoredLanguageChoice(), QLocale::system()));
    bool screenshot = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0) screenshot = true;
    }
    if (!screenshot) {
        int exitCode = 0;
        if (vurma::RunCommandLine(argc, argv, &exitCode)) return LetTeardownsFinish(exitCode);
    }
    QApplication app(argc, argv);
    vurma::app::InstallToolkitTranslations();
    vurma::app::KeepDecimalPoint();
    QFont font(QStringLiteral("IPAGothic"));
    font.setPixelSize(12);
    QApplication::setFont(font);
    QApplication::setApplicationName(QString::fromLatin1(vurma::app::kStrCaption));
    // Lets desktop shells match the window to the installed menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vurma"));
    vurma::SetReportSink(ShowReport);
    if (screenshot) return LetTeardownsFinish(RunScreenshot(argc, argv));

    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    vurma::app::CAnalyzerApp theApp;
    return LetTeardownsFinish(theApp.InitInstance(vurma::app::CommandLineFile(args)));
}
