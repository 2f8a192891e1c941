// The views of the open recording that open beside the main window. A view
// is made from the recording model and the shared view state alone, so the
// main window opens it without knowing its class, and it never knows the
// main window's. GUI thread only.
#pragma once

class QWidget;

namespace vurma::app {

class RecordingModel;
class ViewState;

enum class ViewKind { Spectrogram, SpanSpectrum, Report };

// Shows the view of `kind` owned by `owner` (made on first use, kept while
// `owner` lives) and brings it to the front.
QWidget* ShowView(ViewKind kind, QWidget* owner, RecordingModel* model, ViewState* state);

}  // namespace vurma::app
