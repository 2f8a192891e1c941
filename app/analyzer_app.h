// The application object: runs the main dialog modally; the process ends
// when that run returns.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace vurma::media {
class IEngine;
}

namespace vurma::app {

class CAnalyzerDlg;

class CAnalyzerApp {
  public:
    // Shows the main dialog (opening `file` first when given) and returns
    // when it has been closed.
    int InitInstance(const QString& file);
};

// The media file among the command-line arguments (without the program's
// name): the first that is not an option ("-" counts as a name), made
// absolute against the current folder so that every later use (the capture,
// the proposed CSV name) finds the same file. Empty when there is none.
QString CommandLineFile(const QStringList& args);

// Once `dlg` (made with CAnalyzerDlg::DeferEngine) has been painted for the
// first time, makes the engine with `makeEngine`, attaches it and then runs
// `then` (for example opening a file). Starting the media framework takes a
// noticeable time; the window is on screen meanwhile.
void AttachEngineAfterFirstPaint(CAnalyzerDlg* dlg,
                                 std::function<std::shared_ptr<media::IEngine>()> makeEngine,
                                 std::function<void()> then = {});

}  // namespace vurma::app
