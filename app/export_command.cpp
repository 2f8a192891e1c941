#include "app/export_command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "analysis/analysis_pass.h"
#include "analysis/report_error.h"
#include "analysis/sample_store.h"
#include "analysis/ui_text.h"
#include "analysis/window_functions.h"
#include "app/cli_args.h"
#include "export/csv_writer.h"
#include "media/decode_whole.h"
#include "media/engine.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"

namespace vurma {

const char kExportHelp[] =
    "  --export OUT.csv [--start SECONDS | --search] [--fft 512|1024|2048|4096]\n"
    "           [--window Rectangular|Hanning|Humming] [--gain G] FILE\n"
    "                         decode FILE without window or sound, analyse one frame\n"
    "                         and write the CSV file Save As would write, then exit;\n"
    "                         the frame starts at SECONDS (default 0) or, with\n"
    "                         --search, at the loudest sample; defaults 2048, Humming,\n"
    "                         gain 1; G is 0.1 0.2 0.5 1 2 5 10 20 50 or 100; exit code\n"
    "                         0 written, 1 file refused or CSV not written, 2 bad usage\n";

namespace {

constexpr char kMsgMemory[] = UI_TEXT("ﾒﾓﾘｰが不足しています。  ");
constexpr char kMsgStartTooLate[] = UI_TEXT("開始時間が終わりに近すぎるので計算できません。  ");

// Index of the table entry equal to the number in `text`, or -1.
template <typename T, int Count>
int TableIndex(const std::string& text, const T (&table)[Count]) {
    double v = 0;
    if (!ParseNumber(text, &v)) return -1;
    for (int i = 0; i < Count; ++i) {
        if (static_cast<double>(table[i]) == v) return i;
    }
    return -1;
}

std::string StartLabel(int start, int sampleRate) {
    char text[64];
    std::snprintf(text, sizeof text, "%7.3f", static_cast<double>(start) / sampleRate);
    return text;
}

// Working storage of the export: the mono samples of one block of frames
// at a time (the whole file is never held as doubles) and the spectrum.
constexpr std::uint32_t kBlockFrames = 65536;  // at least the largest FFT size
struct WorkBlock {
    double samples[kBlockFrames];
    double windowed[kBlockFrames];
    SpectrumArrays spectrum;
};

}  // namespace

bool IsExportCommand(const std::vector<std::string>& args) { return HasOption(args, "--export"); }

bool ParseExportArgs(const std::vector<std::string>& args, ExportOptions* options) {
    ExportOptions o;
    bool haveOutput = false;
    bool haveStart = false;
    bool haveFile = false;
    const auto file = [&](const std::string& arg) {
        if (haveFile) {
            UsageError("--export takes one FILE, not also ", arg);
            return false;
        }
        o.mediaPath = arg;
        haveFile = true;
        return true;
    };
    const auto option = [&](const std::string& name, const std::string& value) {
        if (name == "--search") {
            o.search = true;
        } else if (name == "--export") {
            if (value.empty()) {
                UsageError("missing value for ", name);
                return false;
            }
            o.outputPath = value;
            haveOutput = true;
        } else if (name == "--start") {
            double seconds = 0;
            if (!ParseNumber(value, &seconds) || seconds < 0) {
                UsageError("--start takes seconds, 0 or more, not ", value);
                return false;
            }
            o.startSeconds = seconds;
            haveStart = true;
        } else if (name == "--fft") {
            o.fftIndex = FftIndexArg(value);
            return o.fftIndex >= 0;
        } else if (name == "--window") {
            o.windowIndex = WindowIndexArg(value);
            return o.windowIndex >= 0;
        } else {
            o.gainIndex = TableIndex(value, g_dGain);
            if (o.gainIndex < 0) {
                UsageError("--gain takes 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50 or 100, not ", value);
                return false;
            }
        }
        return true;
    };
    if (!ScanArgs(args, {"--search"}, {"--export", "--start", "--fft", "--window", "--gain"}, file,
                  option))
        return false;

    if (haveStart && o.search) {
        UsageError("--start and --search cannot be combined", "");
        return false;
    }
    if (!haveOutput) {
        UsageError("--export OUT.csv is missing", "");
        return false;
    }
    if (!haveFile) {
        UsageError("--export needs the media FILE to analyse", "");
        return false;
    }
    *options = o;
    return true;
}

int ExportFileWithEngine(std::shared_ptr<media::IEngine> engine, const ExportOptions& options,
                         std::string* csvUtf8Out) {
    media::MediaSession session(engine);
    media::LoadedMedia loaded;
    media::CGrabberCallback* callback = nullptr;
    if (!DecodeWhole(engine, session, options.mediaPath, options.stallLimit, &loaded, &callback))
        return kExitFailed;

    auto work = std::unique_ptr<WorkBlock>(new (std::nothrow) WorkBlock());
    if (!work) {
        ReportError(kMsgMemory);
        return kExitFailed;
    }

    PcmView pcm;
    pcm.data = callback->m_pData;
    pcm.dataLen = callback->m_nDataLen.load(std::memory_order_acquire);
    pcm.channels = loaded.channels;
    pcm.bitsPerSample = loaded.bitsPerSample;
    std::uint32_t frames = CompleteFrames(pcm);
    if (frames > loaded.frameCount) frames = loaded.frameCount;  // as the window's arrays hold
    frames = std::min<std::uint32_t>(frames, INT_MAX);           // as the window's sample count
    const int nSamples = static_cast<int>(frames);

    const FinishDecision finish = DecideFinishCapture(nSamples, options.fftIndex);
    if (finish.tooFew) {
        ReportError(kMsgTooFewSamplesToCompute);
        return kExitFailed;
    }
    AnalysisSettings settings;
    settings.fftIndex = finish.fftIndex;
    settings.gainIndex = options.gainIndex;
    settings.windowIndex = options.windowIndex;
    const int N = g_nFftSize[settings.fftIndex];

    int start = 0;
    if (options.search) {
        const std::uint32_t loudest = FindLoudestFrame(pcm, frames, work->samples, kBlockFrames);
        start = static_cast<int>(SearchFrameStart(loudest, frames, static_cast<std::uint32_t>(N)));
    } else {
        const double s = std::trunc(options.startSeconds * loaded.sampleRate);
        start = s < static_cast<double>(nSamples) ? static_cast<int>(s) : nSamples;
    }

    // The frame must fit inside the capture, as the analysis pass requires;
    // only that frame is converted and analysed.
    AnalysisResult result;
    const bool fits =
        start <= nSamples - N &&
        ConvertSamples(pcm, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(N),
                       work->samples, work->windowed, 0) &&
        Analyze(work->samples, work->windowed, N, 0, loaded.sampleRate, settings, work->spectrum,
                &result);
    if (!fits) {
        ReportError(nSamples < N ? kMsgTooFewSamplesForChoice : kMsgStartTooLate);
        return kExitFailed;
    }

    CsvInput csv;
    csv.mediaPath = options.mediaPath;
    csv.infoText = loaded.infoText;
    csv.startText = StartLabel(start, loaded.sampleRate);
    csv.gain = g_dGain[settings.gainIndex];
    csv.fftSize = N;
    csv.windowName = g_strWindowName[settings.windowIndex];
    csv.peakText = result.peakText;
    csv.noteText = result.noteText;
    csv.sampleRate = loaded.sampleRate;
    csv.spectrumDb = work->spectrum.db;
    const std::string text = BuildCsvText(csv);
    if (csvUtf8Out != nullptr) *csvUtf8Out = text;

    if (!options.outputPath.empty() && WriteCsvFile(options.outputPath, text) != kCsvWriteOk) {
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace vurma
