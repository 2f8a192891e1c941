// The headless spectrogram: decodes media files without a window or sound
// and writes the window's spectrogram picture of each as PNG.
#pragma once

#include <string>
#include <vector>

#include "analysis/spectrogram.h"

namespace vurma {

struct SpectrogramCommand {
    std::string output;  // OUT.png, or the folder for DIR/<name>.png
    bool toFolder = false;
    std::vector<std::string> files;
    int width = 800;
    int height = 500;
    SpectrogramSettings settings;
};

// True when the arguments (without the program name) ask for a spectrogram.
bool IsSpectrogramCommand(const std::vector<std::string>& args);

// Reads "--spectrogram OUT.png|DIR [--size WxH] [--fft N] [--window NAME]
// [--log] [--floor DB] FILE..."; false after reporting the first problem.
bool ParseSpectrogramArgs(const std::vector<std::string>& args, SpectrogramCommand* command);

// The whole command: 0 all written, 1 some file failed, 2 bad usage.
int RunSpectrogramCommand(int argc, char** argv);

extern const char kSpectrogramHelp[];

}  // namespace vurma
