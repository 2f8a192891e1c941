// The application object: runs the main dialog modally; the process ends
// when that run returns.
#pragma once

#include <QString>
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

// Once `dlg` (made with CAnalyzerDlg::DeferEngine) has been painted for the
// first time, makes the engine with `makeEngine`, attaches it and then runs
// `then` (for example opening a file). Starting the media framework takes a
// noticeable time; the window is on screen meanwhile.
void AttachEngineAfterFirstPaint(CAnalyzerDlg* dlg,
                                 std::function<std::shared_ptr<media::IEngine>()> makeEngine,
                                 std::function<void()> then = {});

}  // namespace vurma::app
