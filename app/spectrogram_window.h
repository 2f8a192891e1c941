// The spectrogram window: the whole captured recording as a picture beside
// the main window. It follows the main window's analysis frame and FFT
// settings, moves its time slider on a click, zooms and pans in time and
// saves its picture. The columns are computed on worker threads; the window
// never waits for them except to stop them.
#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "analysis/spectrogram.h"

class QCheckBox;
class QLabel;
class QScrollBar;
class QSpinBox;
class QTimer;

namespace vurma::app {

class CAnalyzerDlg;

class SpectrogramWindow : public QWidget {
    Q_OBJECT

  public:
    explicit SpectrogramWindow(CAnalyzerDlg* dlg);
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

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void OnTick();
    void Restart();
    void StartWorker();
    void StopWorker();
    // The picture as shown (axes, legend and columns so far), without the frame mark.
    QImage Picture() const;
    void Paint();
    void MoveSlider(int x);
    void Zoom(int x, double factor);
    void SetSpan(double first, double last);
    void UpdateScrollBar();
    void ShowReadout(QPoint at);
    double WholeLength() const;

    CAnalyzerDlg* m_dlg;
    QWidget* m_plot = nullptr;
    QScrollBar* m_scroll = nullptr;
    QCheckBox* m_chkLog = nullptr;
    QSpinBox* m_spinTop = nullptr;
    QSpinBox* m_spinFloor = nullptr;
    QLabel* m_readout = nullptr;
    QTimer* m_timer = nullptr;
    QTimer* m_restartTimer = nullptr;

    // What is shown: frames [m_first, m_last) of the recording.
    SpectrogramSource m_source;
    double m_first = 0;
    double m_last = 0;
    bool m_whole = true;

    std::unique_ptr<SpectrogramPlan> m_plan;
    std::unique_ptr<SpectrogramLevels> m_levels;
    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_busy{false};
    std::uint32_t m_framesSeen = 0;  // captured frames when the worker last started
};

}  // namespace vurma::app
