// The spectrogram window: the whole recording of the model as a picture
// beside the main window. It follows the shared analysis frame and FFT
// settings, sets the frame start on a click, zooms and pans in time and
// saves its picture. The columns are computed on the shared worker pool, and
// only while the window is shown; the GUI thread waits for them only when it
// stops them, and then for at most one FFT frame.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

#include "analysis/spectrogram.h"

class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QSpinBox;
class QTimer;

namespace vurma::app {

class RecordingModel;
class ViewState;

class SpectrogramWindow : public QWidget {
    Q_OBJECT

  public:
    // Shows `model`'s recording, marks and sets `state`'s analysis frame; a
    // window of its own that `owner` keeps (and closes with it).
    SpectrogramWindow(RecordingModel* model, ViewState* state, QWidget* owner);
    ~SpectrogramWindow() override;

    // Stops the workers: the capture they read is about to go away.
    void ReleaseCapture();
    // Shows the whole recording again.
    void ShowWhole();
    // The picture as shown, written as PNG; false after reporting a failure.
    bool SavePng(const QString& path);
    void OnSavePng();
    // Asks for the PNG file's path; tests replace it so no dialog opens.
    std::function<QString(const QString& proposed)> m_chooseSaveFile;

    QWidget* plot() const { return m_plot; }
    // The plot area inside plot(), in its coordinates.
    QRect PlotRect() const;
    // The recording frame under a plot() x coordinate.
    double FrameAtX(int x) const;

    // Columns are being computed (for the tests).
    bool Computing() const;

    QSpinBox* m_spinTop = nullptr;
    QSpinBox* m_spinFloor = nullptr;
    QAction* m_actSave = nullptr;
    QPushButton* m_btnSave = nullptr;
    QLabel* m_readout = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void OnTick();
    void Restart();
    void StartWorker();
    void StopWorker();
    // The picture as shown (axes, legend and columns so far), without the frame mark.
    QImage Picture() const;
    void Paint();
    void MoveSlider(int x);
    // Zooms by `factor` keeping the time under `at` under it.
    void Zoom(QPoint at, double factor);
    // Keeps top and floor at least kMinDbRange apart.
    void LimitDbRange();
    // Save is offered only while there is a picture of a file.
    void EnableSave();
    void SetSpan(double first, double last);
    void UpdateScrollBar();
    void ShowReadout(QPoint at);
    double WholeLength() const;

    RecordingModel* m_model;
    ViewState* m_state;
    QWidget* m_plot = nullptr;
    QScrollBar* m_scroll = nullptr;
    QCheckBox* m_chkLog = nullptr;
    QTimer* m_timer = nullptr;
    QTimer* m_restartTimer = nullptr;

    // What is shown: frames [m_first, m_last) of the recording.
    SpectrogramSource m_source;
    double m_first = 0;
    double m_last = 0;
    bool m_whole = true;

    std::shared_ptr<SpectrogramPlan> m_plan;
    std::shared_ptr<SpectrogramLevels> m_levels;
    std::unique_ptr<SpectrogramRun> m_run;
    bool m_stale = false;            // the layout changed while hidden
    std::uint32_t m_framesSeen = 0;  // captured frames when the last run started
    QPoint m_hover{-1, -1};          // the pointer over the plot, for the readout
};

}  // namespace vurma::app
