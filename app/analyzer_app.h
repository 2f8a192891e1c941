// The application object: runs the main dialog modally; the process ends
// when that run returns.
#pragma once

#include <QString>

namespace vurma::app {

class CAnalyzerApp {
  public:
    // Shows the main dialog (opening `file` first when given) and returns
    // when it has been closed.
    int InitInstance(const QString& file);
};

}  // namespace vurma::app
