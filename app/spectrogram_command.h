// The headless spectrogram: decodes media files without a window or sound
// and writes the window's spectrogram picture of each as PNG. Each file is
// streamed: its columns are computed as the decoder delivers, on the shared
// worker pool, and its PCM is never held whole.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analysis/spectrogram.h"

namespace vurma {

namespace media {
class IEngine;
}  // namespace media

struct SpectrogramCommand {
    std::string output;  // OUT.png, or the folder for DIR/<name>.png
    bool toFolder = false;
    std::vector<std::string> files;
    int width = 800;
    int height = 500;
    bool caption = false;
    std::string channelsArg;  // as given, for a usage error about one file
    SpectrogramSettings settings;
};

// True when the arguments (without the program name) ask for a spectrogram.
bool IsSpectrogramCommand(const std::vector<std::string>& args);

// Reads "--spectrogram OUT.png|DIR [--size WxH] [--fft N] [--window NAME]
// [--channels mix|all|N] [--log] [--floor DB] [--caption] FILE..."; false
// after reporting the first problem.
bool ParseSpectrogramArgs(const std::vector<std::string>& args, SpectrogramCommand* command);

// Draws every file of the command on `engine` (the shared pool computes;
// `meanwhile`, when given, runs on this thread while a file decodes, before
// anything is drawn). 0 all written, 1 some file failed or was too short, 2 a
// file lacks the channel asked for.
int DrawSpectrograms(const std::shared_ptr<media::IEngine>& engine,
                     const SpectrogramCommand& command,
                     const std::function<void()>& meanwhile = {});

// The whole command: parse, draw on the GStreamer engine, exit code.
int RunSpectrogramCommand(int argc, char** argv);

extern const char kSpectrogramHelp[];

}  // namespace vurma
