#include "analyzer_app.h"

#include <QEvent>
#include <QFileInfo>
#include <QTimer>
#include <memory>
#include <utility>

#include "analyzer_dlg.h"
#include "media/media_session.h"

namespace vurma::app {

namespace {

// Waits for the dialog's first paint, then schedules the engine's creation
// for the next turn of the event loop, when the painted frame has been shown.
// A window that is not painted soon (started minimised, say) gets its engine
// after a second all the same.
class FirstPaintStarter : public QObject {
  public:
    FirstPaintStarter(CAnalyzerDlg* dlg,
                      std::function<std::shared_ptr<media::IEngine>()> makeEngine,
                      std::function<void()> then)
        : QObject(dlg), m_dlg(dlg), m_makeEngine(std::move(makeEngine)), m_then(std::move(then)) {
        dlg->installEventFilter(this);
        QTimer::singleShot(1000, this, [this] { Start(); });
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_dlg && event->type() == QEvent::Paint) {
            m_dlg->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] { Start(); });
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    void Start() {
        if (m_started) return;
        m_started = true;
        m_dlg->removeEventFilter(this);
        m_dlg->AttachEngine(m_makeEngine());
        if (m_then) m_then();
        deleteLater();
    }

    bool m_started = false;
    CAnalyzerDlg* m_dlg;
    std::function<std::shared_ptr<media::IEngine>()> m_makeEngine;
    std::function<void()> m_then;
};

}  // namespace

void AttachEngineAfterFirstPaint(CAnalyzerDlg* dlg,
                                 std::function<std::shared_ptr<media::IEngine>()> makeEngine,
                                 std::function<void()> then) {
    new FirstPaintStarter(dlg, std::move(makeEngine), std::move(then));
}

QString CommandLineFile(const QStringList& args) {
    for (const QString& arg : args) {
        if (!arg.startsWith(QLatin1Char('-')) || arg == QStringLiteral("-"))
            return QFileInfo(arg).absoluteFilePath();
    }
    return {};
}

int CAnalyzerApp::InitInstance(const QString& file) {
    auto dlg = std::make_unique<CAnalyzerDlg>(CAnalyzerDlg::DeferEngine{});
    CAnalyzerDlg* target = dlg.get();
    dlg->RestoreWindowSize();
    AttachEngineAfterFirstPaint(target, media::CreateGstEngine, [target, file] {
        if (!file.isEmpty()) target->OpenMediaFile(file);
    });
    dlg->exec();
    return 0;
}

}  // namespace vurma::app
