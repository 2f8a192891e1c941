#include "analyzer_app.h"

#include <QTimer>
#include <memory>

#include "analyzer_dlg.h"
#include "media/media_session.h"

namespace vurma::app {

int CAnalyzerApp::InitInstance(const QString& file) {
    auto dlg = std::make_unique<CAnalyzerDlg>(media::CreateGstEngine());
    if (!file.isEmpty()) {
        CAnalyzerDlg* target = dlg.get();
        QTimer::singleShot(0, target, [target, file] { target->OpenMediaFile(file); });
    }
    dlg->exec();
    return 0;
}

}  // namespace vurma::app
