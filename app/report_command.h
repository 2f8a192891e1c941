// The recording report on the command line: "vurma --report [--json]
// FILE...". Each file is decoded whole without window or sound and measured
// (analysis/recording_report.h); files run in parallel on the shared worker
// pool, each with a media session of its own, and the output keeps the
// order given.
//
// RunReportCommand runs on the process's main thread; ReportFile on any
// thread but the GUI thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analysis/recording_report.h"

namespace vurma {

namespace media {
class IEngine;
}

// True when the arguments (without the program name) ask for the report.
bool IsReportCommand(const std::vector<std::string>& args);

// Decodes and measures one file. False with the reason in *error (the
// program's own message, in the interface language) when it cannot.
bool ReportFile(const std::shared_ptr<media::IEngine>& engine, const std::string& path,
                RecordingReport* report, std::string* error);

// The whole command: parse, measure, print; exit 0 all measured, 1 some
// failed, 2 bad usage.
int RunReportCommand(const std::vector<std::string>& args);

// Lines of --help that describe the report.
extern const char kReportHelp[];

}  // namespace vurma
