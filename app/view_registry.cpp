#include "view_registry.h"

#include <QWidget>

#include "span_spectrum_window.h"
#include "report_window.h"
#include "spectrogram_window.h"

namespace vurma::app {

namespace {

template <class View>
QWidget* FindOrMake(QWidget* owner, RecordingModel* model, ViewState* state) {
    if (View* view = owner->findChild<View*>(QString(), Qt::FindDirectChildrenOnly)) return view;
    return new View(model, state, owner);
}

}  // namespace

QWidget* ShowView(ViewKind kind, QWidget* owner, RecordingModel* model, ViewState* state) {
    QWidget* view = nullptr;
    switch (kind) {
        case ViewKind::Spectrogram:
            view = FindOrMake<SpectrogramWindow>(owner, model, state);
            break;
        case ViewKind::SpanSpectrum:
            view = FindOrMake<SpanSpectrumWindow>(owner, model, state);
            break;
        case ViewKind::Report:
            view = FindOrMake<ReportWindow>(owner, model, state);
            break;
    }
    view->show();
    view->raise();
    view->activateWindow();
    return view;
}

}  // namespace vurma::app
