// The headless span spectrum: decodes media files without a window or
// sound and writes the averaged and peak-held spectrum of a span of each as
// UTF-8 CSV, optionally printing its strongest peaks with their notes.
// Runs on the process's main thread.
#pragma once

#include <string>
#include <vector>

#include "analysis/span_spectrum.h"
#include "analysis/spectrum_peaks.h"

namespace vurma {

struct SpectrumCommand {
    std::string output;  // OUT.csv, "-" for stdout, or the folder for DIR/<name>.csv
    bool toFolder = false;
    std::vector<std::string> files;
    double fromSeconds = 0;
    double toSeconds = -1;         // negative: to the end
    std::string fromText, toText;  // as given, for messages
    bool allChannels = false;
    SpanSpectrumSettings settings;
    int peaks = 0;
    double a4Hz = kDefaultA4Hz;
};

// True when the arguments (without the program name) ask for a spectrum.
bool IsSpectrumCommand(const std::vector<std::string>& args);

// Reads "--spectrum OUT.csv|-|DIR [--from S] [--to S] [--fft N] [--window
// NAME] [--channels SET[,SET...]|all] [--peaks K] [--a4 HZ] FILE..."; false
// after reporting the first problem.
bool ParseSpectrumArgs(const std::vector<std::string>& args, SpectrumCommand* command);

// The whole command: 0 all written, 1 some file failed, 2 bad usage
// (including a span or a channel a file does not have).
int RunSpectrumCommand(const std::vector<std::string>& args);

extern const char kSpectrumHelp[];

}  // namespace vurma
