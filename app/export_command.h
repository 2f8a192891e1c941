// The command-line export: decodes a media file without a window or sound,
// captures it whole as the window does when it opens a file, analyses one frame
// and writes the same CSV file Save As would write in that state.
//
// Runs on the process's main thread; the media engine's streaming thread
// only feeds the grabber callback.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "analysis/settings.h"

namespace vurma {

namespace media {
class IEngine;
}  // namespace media

// The settings of one export. Indexes select entries of the option tables,
// as the window's lists do; the defaults are the window's defaults.
struct ExportOptions {
    std::string mediaPath;   // file to analyse
    std::string outputPath;  // CSV file to write; empty: build the text only
    bool search = false;     // start at the loudest sample instead of startSeconds
    double startSeconds = 0.0;
    int fftIndex = kDefaultFftIndex;
    int gainIndex = kDefaultGainIndex;
    int windowIndex = kDefaultWindowIndex;
    // How long the decode may make no progress (no new bytes, no new
    // position) before the file is loaded once more, or the export given up.
    std::chrono::milliseconds stallLimit{5000};
};

// Exit codes of the command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // refused file, too little data, write failure
inline constexpr int kExitUsage = 2;   // bad command line

// Loads, captures, analyses and (when outputPath is set) writes the CSV
// file. The UTF-8 text of the file (before encoding) goes to csvUtf8Out
// when not null. Every failure is reported through ReportError; returns
// kExitOk or kExitFailed.
// Runs on the GStreamer engine (export_command_gst.cpp).
int ExportFileHeadless(const ExportOptions& options, std::string* csvUtf8Out);

// The same on any engine (tests use the fake one).
int ExportFileWithEngine(std::shared_ptr<media::IEngine> engine, const ExportOptions& options,
                         std::string* csvUtf8Out);

// True when the arguments (without the program name) ask for the export.
bool IsExportCommand(const std::vector<std::string>& args);

// Reads "--export OUT [--start S | --search] [--fft N] [--window NAME]
// [--gain G] FILE"; each option also takes the form --name=value. Returns
// false after reporting the first problem.
bool ParseExportArgs(const std::vector<std::string>& args, ExportOptions* options);

// The whole command: parse, export on the GStreamer engine, exit code.
int RunExportCommand(const std::vector<std::string>& args);

// Lines of --help that describe the export.
extern const char kExportHelp[];

}  // namespace vurma
