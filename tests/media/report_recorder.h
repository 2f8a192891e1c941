// Records every ReportError text for the duration of a test.
#pragma once

#include <string>
#include <vector>

#include "analysis/report_error.h"

namespace vurma::media::testing {

class ReportRecorder {
  public:
    ReportRecorder() {
        previous_ = SetReportSink([this](const std::string& text) { texts.push_back(text); });
    }
    ~ReportRecorder() { SetReportSink(previous_); }
    std::vector<std::string> texts;

  private:
    ReportSink previous_;
};

}  // namespace vurma::media::testing
