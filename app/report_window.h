// The recording report of the open recording, in a window of its own: the
// same rows and numbers as `vurma --report`, and a Copy button that puts
// the JSON line on the clipboard. It is a view of the recording model: the
// report is computed on the shared worker pool only while the window is
// shown and once the capture has ended; the window never waits for the work
// except to cancel it when the recording is released.
//
// GUI thread only; the measuring runs on pool threads.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

class QLabel;
class QPushButton;
class QTableWidget;

namespace vurma {
struct RecordingReport;
}

namespace vurma::app {

class RecordingModel;
class ViewState;

class ReportWindow : public QWidget {
    Q_OBJECT

  public:
    // `state` is not used: the report covers the whole recording.
    ReportWindow(RecordingModel* model, ViewState* state, QWidget* owner);
    ~ReportWindow() override;

    // The shown report as one JSON line (what Copy puts on the clipboard);
    // empty while there is none.
    const std::string& json() const { return json_; }
    // True while a report is being computed.
    bool computing() const;

  signals:
    // A report is shown (tests wait for it).
    void reportShown();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    struct Job;
    void Refresh();
    void Cancel();
    void Clear(const QString& status);
    void Show(const RecordingReport& report);

    RecordingModel* model_;
    QLabel* status_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* copy_ = nullptr;
    std::shared_ptr<Job> job_;
    std::string json_;
};

}  // namespace vurma::app
