// Pieces the main dialog's files share (analyzer_dlg.cpp, dialog_layout.cpp,
// transport.cpp, capture_control.cpp, csv_save.cpp); nothing else includes
// this. GUI thread, except Poster::Post (any thread).
#pragma once

#include <QMetaObject>
#include <QSlider>
#include <algorithm>
#include <mutex>

#include "analyzer_dlg.h"

namespace vurma::app {

inline constexpr int kTimerPeriodMs = 90;

// Media threads post through this; the window cuts it off when it closes,
// so that a late call from a pipeline torn down in the background finds
// nothing to post to.
struct CAnalyzerDlg::Poster {
    std::mutex mutex;
    CAnalyzerDlg* dlg = nullptr;  // guarded by mutex

    void Post(void (CAnalyzerDlg::*handler)()) {
        std::lock_guard lock(mutex);
        if (dlg == nullptr) return;
        CAnalyzerDlg* d = dlg;
        QMetaObject::invokeMethod(
            d, [d, handler] { (d->*handler)(); }, Qt::QueuedConnection);
    }
    void CutOff() {
        std::lock_guard lock(mutex);
        dlg = nullptr;
    }
};

inline int ClampIndex(int index, int count, int fallback) {
    return (index >= 0 && index < count) ? index : fallback;
}

// PageUp, PageDown and clicks in the groove move a slider by a fifth of its
// range; the arrow keys keep stepping by one.
inline void PageByFifth(QSlider* slider) {
    slider->setPageStep(std::max(1, (slider->maximum() - slider->minimum()) / 5));
}

// The frequency slider's range for FFT size N: the plot's left edge stops
// at the Nyquist frequency, bin N / 2. Ticks at the two ends only.
inline void SetFreqSliderRange(QSlider* slider, int N) {
    slider->setRange(1, N / 2);
    slider->setTickInterval(std::max(1, N / 2 - 1));
    PageByFifth(slider);
}

}  // namespace vurma::app
