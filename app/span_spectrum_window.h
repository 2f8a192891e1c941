// The spectrum window: the averaged and peak-held spectrum of the shared
// span of the model's recording (the whole file when nothing is selected),
// with the main window's current frame, a frozen reference, a peak list with
// notes, hover readout, zoom and CSV export. The average computes on the
// shared worker pool and fills in as frames are merged; the GUI thread waits
// for it only when it stops it. GUI thread only.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "analysis/span_spectrum.h"
#include "analysis/spectrum_peaks.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimer;

namespace vurma::app {

class RecordingModel;
class ViewState;

class SpanSpectrumWindow : public QWidget {
    Q_OBJECT

  public:
    SpanSpectrumWindow(RecordingModel* model, ViewState* state, QWidget* owner);
    ~SpanSpectrumWindow() override;

    // The spectrum shown (complete or so far) and its peaks.
    const SpanSpectrum& spectrum() const { return m_spectrum; }
    const std::vector<SpectrumPeak>& peaks() const { return m_peaks; }
    bool Computing() const;
    // Writes the shown curves as UTF-8 CSV; false after reporting a failure.
    bool SaveCsv(const QString& path);
    // Asks for the CSV file's path; tests replace it so no dialog opens.
    std::function<QString(const QString& proposed)> m_chooseSaveFile;

    QWidget* m_plot = nullptr;
    QComboBox* m_cbFft = nullptr;
    QComboBox* m_cbWindow = nullptr;
    QCheckBox* m_chkChannel[5] = {};
    QCheckBox* m_chkAverage = nullptr;
    QCheckBox* m_chkMax = nullptr;
    QCheckBox* m_chkFrame = nullptr;
    QCheckBox* m_chkLog = nullptr;
    QSpinBox* m_spinTop = nullptr;
    QSpinBox* m_spinFloor = nullptr;
    QDoubleSpinBox* m_spinA4 = nullptr;
    QPushButton* m_btnReference = nullptr;
    QPushButton* m_btnSave = nullptr;
    QListWidget* m_peakList = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_readout = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    struct Job;
    SpanSpectrumSettings Settings() const;
    void Restart();
    void Stop();
    void OnTick();
    void UpdateFrame();
    void UpdatePeaks();
    void UpdateTitle();
    void Paint();
    QRect PlotRect() const;
    double HzAt(double x) const;
    double XOf(double hz) const;
    double YOf(double db) const;
    void ShowReadout(QPoint at);

    RecordingModel* m_model;
    ViewState* m_state;
    QTimer* m_timer = nullptr;
    std::shared_ptr<Job> m_job;
    SpanSpectrum m_spectrum;   // the span's curves (so far)
    SpanSpectrum m_frame;      // the main window's current frame
    SpanSpectrum m_reference;  // frozen curves, dashed
    std::vector<SpectrumPeak> m_peaks;
    double m_loHz = 0, m_hiHz = 0;  // shown frequencies; 0, 0: everything
    double m_cursorHz = 0;          // a clicked peak; 0: none
    QPoint m_dragFrom{-1, -1}, m_dragTo{-1, -1};
};

}  // namespace vurma::app
