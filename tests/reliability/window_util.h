// The offscreen window for the reliability tests: one QApplication, a report
// sink that records instead of showing message boxes, and waiting helpers.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <string>
#include <vector>

#include "analysis/report_error.h"
#include "analyzer_dlg.h"
#include "media/grabber_callback.h"

namespace vurma::reliability {

inline QApplication* EnsureApp() {
    static int argc = 1;
    static char name[] = "vurma_reliability_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return app;
}

// Installs a recording report sink for the lifetime of the object.
class RecordReports {
  public:
    RecordReports() {
        previous_ = SetReportSink([this](const std::string& text) { texts.push_back(text); });
    }
    ~RecordReports() { SetReportSink(previous_); }
    RecordReports(const RecordReports&) = delete;
    RecordReports& operator=(const RecordReports&) = delete;

    bool Has(const std::string& text) const {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    std::vector<std::string> texts;

  private:
    ReportSink previous_;
};

// Bytes the current capture holds (0 without one).
inline std::uint32_t CapturedBytes(const app::CAnalyzerDlg& d) {
    return d.m_pCallBack != nullptr ? d.m_pCallBack->m_nDataLen.load(std::memory_order_acquire) : 0;
}

// Runs the event loop until the first playback has ended and the capture
// is finished (play state stopped, samples loaded).
inline bool WaitForCaptureEnd(const app::CAnalyzerDlg& d, int timeoutMs = 15000) {
    return QTest::qWaitFor([&] { return d.m_nPlayState == 1 && d.m_bLoaded == 1; }, timeoutMs);
}

// Runs the event loop until the capture has taken some bytes.
inline bool WaitForCapturing(const app::CAnalyzerDlg& d, int timeoutMs = 10000) {
    return QTest::qWaitFor([&] { return CapturedBytes(d) > 0; }, timeoutMs);
}

}  // namespace vurma::reliability
