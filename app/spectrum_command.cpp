#include "app/spectrum_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "analysis/report_error.h"
#include "analysis/ui_text.h"
#include "analysis/worker_pool.h"
#include "app/cli_args.h"
#include "app/export_command.h"
#include "export/csv_writer.h"
#include "export/spectrum_csv.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"

namespace vurma {

const char kSpectrumHelp[] =
    "  --spectrum OUT.csv [--from S] [--to S] [--fft N] [--window NAME]\n"
    "           [--channels SET] [--peaks K] [--a4 HZ] FILE\n"
    "                         decode FILE without window or sound and write the\n"
    "                         average and maximum spectrum (dBFS) of seconds S to S\n"
    "                         (default: all) as UTF-8 CSV, OUT - for stdout; N: 512 to\n"
    "                         65536 (default 8192); NAME: hann (default), hamming,\n"
    "                         blackman, blackman-harris, flat-top, rectangular; SET:\n"
    "                         mix (default), left, right, mid, side, several joined\n"
    "                         by commas, or all; --peaks K prints the K strongest\n"
    "                         peaks as frequency, level, note and cents against A4 =\n"
    "                         HZ (400 to 480, default 440)\n"
    "  --spectrum DIR FILE...\n"
    "                         the same for each FILE, written as DIR/<file name>.csv;\n"
    "                         exit code 0 all written, 1 some file failed, 2 bad usage\n";

namespace {

constexpr auto kStallLimit = std::chrono::milliseconds(5000);
constexpr char kMsgSpanTooShort[] =
    UI_TEXT("区間がFFTの1ﾌﾚｰﾑ(%dｻﾝﾌﾟﾙ)より短いので、ｽﾍﾟｸﾄﾙを計算できません。  ");

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

bool ParseChannels(const std::string& value, SpectrumCommand* o) {
    o->settings.channels.clear();
    o->allChannels = false;
    std::size_t at = 0;
    while (true) {
        const std::size_t comma = value.find(',', at);
        const std::string name = value.substr(at, comma == std::string::npos ? comma : comma - at);
        if (name == "all" || name == "ALL") {
            o->allChannels = true;
        } else if (const auto channel = ParseSpectrumChannel(name)) {
            if (std::find(o->settings.channels.begin(), o->settings.channels.end(), *channel) ==
                o->settings.channels.end())
                o->settings.channels.push_back(*channel);
        } else {
            UsageError("--channels takes mix, left, right, mid, side or all, not ", name);
            return false;
        }
        if (comma == std::string::npos) return true;
        at = comma + 1;
    }
}

// Frames of the requested span within a recording of `frames` frames, or
// false after a usage report.
bool SpanFrames(const SpectrumCommand& c, int rate, std::uint32_t frames, std::uint32_t* first,
                std::uint32_t* count) {
    const double from = std::floor(c.fromSeconds * rate);
    if (from >= frames) {
        char length[64];
        std::snprintf(length, sizeof length, "--from lies beyond the end of the file (%.3f s): ",
                      static_cast<double>(frames) / rate);
        UsageError(length, c.fromText);
        return false;
    }
    double to = c.toSeconds < 0 ? frames : std::floor(c.toSeconds * rate);
    to = std::min<double>(to, frames);
    *first = static_cast<std::uint32_t>(from);
    *count = static_cast<std::uint32_t>(to - from);
    return true;
}

bool ChannelsPresent(const SpectrumCommand& c, int channels) {
    for (SpectrumChannel channel : c.settings.channels) {
        if (!HasSpectrumChannel(channel, channels)) {
            UsageError("the file has one channel only, no ", SpectrumChannelName(channel));
            return false;
        }
    }
    return true;
}

// Feeds the span to the accumulator while the capture grows, on a thread of
// its own beside the decoder, so that little is left when the decode ends.
class EarlyFeed {
  public:
    EarlyFeed(SpanAccumulator* acc, const media::CGrabberCallback* cb, std::size_t firstByte,
              std::size_t endByte)
        : acc_(acc), cb_(cb), next_(firstByte), end_(endByte) {
        thread_ = std::thread([this] {
            while (!stop_.load(std::memory_order_acquire)) {
                FeedAvailable();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~EarlyFeed() { Stop(); }
    // Joins the thread; after it the caller is the accumulator's feeder.
    void Stop() {
        stop_.store(true, std::memory_order_release);
        if (thread_.joinable()) thread_.join();
    }
    // Feeds the bytes captured so far within the span; returns the bytes fed.
    std::size_t FeedAvailable() {
        const std::size_t have =
            std::min<std::size_t>(cb_->m_nDataLen.load(std::memory_order_acquire), end_);
        if (have > next_) {
            acc_->Feed(cb_->m_pData + next_, have - next_);
            next_ = have;
        }
        return next_;
    }

  private:
    SpanAccumulator* acc_;
    const media::CGrabberCallback* cb_;
    std::size_t next_, end_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

enum class FileResult { kOk, kFailed, kUsage };

// Decodes one file and computes its spectrum; the text of its CSV and its
// peak lines go to the out parameters.
FileResult AnalyseFile(const SpectrumCommand& c, const std::string& path, std::string* csv,
                       std::string* peakLines) {
    const std::shared_ptr<media::IEngine> engine = media::CreateGstEngine();
    if (engine == nullptr) return FileResult::kFailed;
    media::MediaSession session(engine);
    media::LoadedMedia loaded;
    media::CGrabberCallback* callback = nullptr;
    SpanSpectrumSettings settings = c.settings;

    std::unique_ptr<SpanAccumulator> acc;
    std::unique_ptr<EarlyFeed> early;
    const auto watch = [&](media::CGrabberCallback* cb, const media::LoadedMedia& l) {
        early.reset();
        acc.reset();
        if (cb == nullptr || l.frameCount == 0) return;
        std::vector<SpectrumChannel> channels = settings.channels;
        if (c.allChannels) channels = AllSpectrumChannels(l.channels);
        for (SpectrumChannel channel : channels)
            if (!HasSpectrumChannel(channel, l.channels)) return;  // reported after the decode
        const std::size_t frameBytes = static_cast<std::size_t>(l.channels) * (l.bitsPerSample / 8);
        const double from = std::floor(c.fromSeconds * l.sampleRate);
        const double to = c.toSeconds < 0 ? 1e18 : std::floor(c.toSeconds * l.sampleRate);
        SpanSpectrumSettings earlySettings = settings;
        earlySettings.channels = channels;
        acc = std::make_unique<SpanAccumulator>(earlySettings, l.sampleRate,
                                                PcmFormat{l.channels, l.bitsPerSample, false},
                                                &WorkerPool::Shared());
        early =
            std::make_unique<EarlyFeed>(acc.get(), cb, static_cast<std::size_t>(from) * frameBytes,
                                        static_cast<std::size_t>(std::min(to, 1e15)) * frameBytes);
    };
    if (!DecodeWhole(engine, session, path, kStallLimit, &loaded, &callback, watch)) {
        early.reset();
        return FileResult::kFailed;
    }
    if (early) early->Stop();
    if (c.allChannels) settings.channels = AllSpectrumChannels(loaded.channels);
    const PcmView pcm{callback->m_pData, callback->m_nDataLen.load(std::memory_order_acquire),
                      loaded.channels, loaded.bitsPerSample};
    std::uint32_t first = 0, count = 0;
    if (!ChannelsPresent(c, loaded.channels) ||
        !SpanFrames(c, loaded.sampleRate, CompleteFrames(pcm), &first, &count))
        return FileResult::kUsage;

    // The early feed took the span as far as the capture went; the rest now.
    // Without it (a channel the file lacks stopped it) the span is read whole.
    SpanSpectrum spectrum;
    if (acc) {
        early->FeedAvailable();
        spectrum = acc->Finish();
    } else {
        spectrum = ComputeSpanSpectrum(pcm, loaded.sampleRate, first, count, settings,
                                       &WorkerPool::Shared());
    }
    early.reset();
    if (spectrum.frames == 0) {
        ReportError(kMsgSpanTooShort, settings.fftSize);
        return FileResult::kFailed;
    }
    *csv = BuildSpectrumCsv(spectrum);
    if (c.peaks > 0)
        *peakLines = PeakLines(FindSpectrumPeaks(spectrum.curves[0].averageDb, spectrum.HzPerBin(),
                                                 c.peaks, kSpanFloorDb, settings.window),
                               c.a4Hz);
    return FileResult::kOk;
}

}  // namespace

bool IsSpectrumCommand(const std::vector<std::string>& args) {
    return HasOption(args, "--spectrum");
}

bool ParseSpectrumArgs(const std::vector<std::string>& args, SpectrumCommand* command) {
    SpectrumCommand o;
    bool haveOutput = false;
    const auto file = [&](const std::string& arg) {
        o.files.push_back(arg);
        return true;
    };
    const auto option = [&](const std::string& name, const std::string& value) {
        double number = 0;
        const bool numeric = ParseNumber(value, &number);
        if (name == "--spectrum") {
            if (value.empty()) {
                UsageError("missing value for ", name);
                return false;
            }
            o.output = value;
            haveOutput = true;
        } else if (name == "--from" || name == "--to") {
            if (!numeric || number < 0) {
                UsageError((name + " takes seconds from 0, not ").c_str(), value);
                return false;
            }
            (name == "--from" ? o.fromSeconds : o.toSeconds) = number;
            (name == "--from" ? o.fromText : o.toText) = value;
        } else if (name == "--fft") {
            if (!numeric || number != std::floor(number) || number > kSpanFftMaxSize ||
                !IsSpanFftSize(static_cast<int>(number))) {
                UsageError("--fft takes a power of two from 512 to 65536, not ", value);
                return false;
            }
            o.settings.fftSize = static_cast<int>(number);
        } else if (name == "--window") {
            const auto shape = ParseWindowShape(value);
            if (!shape) {
                UsageError(
                    "--window takes hann, hamming, blackman, blackman-harris, flat-top or "
                    "rectangular, not ",
                    value);
                return false;
            }
            o.settings.window = *shape;
        } else if (name == "--channels") {
            return ParseChannels(value, &o);
        } else if (name == "--peaks") {
            if (!numeric || number != std::floor(number) || number < 1 || number > 10000) {
                UsageError("--peaks takes a count from 1 to 10000, not ", value);
                return false;
            }
            o.peaks = static_cast<int>(number);
        } else {
            if (!numeric || number < kMinA4Hz || number > kMaxA4Hz) {
                UsageError("--a4 takes Hz from 400 to 480, not ", value);
                return false;
            }
            o.a4Hz = number;
        }
        return true;
    };
    if (!ScanArgs(
            args, {},
            {"--spectrum", "--from", "--to", "--fft", "--window", "--channels", "--peaks", "--a4"},
            file, option))
        return false;
    if (!haveOutput) {
        UsageError("--spectrum OUT.csv is missing", "");
        return false;
    }
    if (o.files.empty()) {
        UsageError("--spectrum needs the media FILE to analyse", "");
        return false;
    }
    if (o.toSeconds >= 0 && o.fromSeconds >= o.toSeconds) {
        UsageError(("--from must come before --to " + o.toText + ", not ").c_str(), o.fromText);
        return false;
    }
    if (o.output == "-" && o.peaks > 0) {
        UsageError("--peaks prints to stdout, which OUT - already takes: ", "--peaks");
        return false;
    }
    o.toFolder = o.files.size() > 1 || IsFolder(o.output);
    if (o.toFolder && !IsFolder(o.output)) {
        UsageError("several files need an existing folder, not ", o.output);
        return false;
    }
    if (o.settings.channels.empty()) o.settings.channels = {SpectrumChannel::kMix};
    *command = o;
    return true;
}

int RunSpectrumCommand(const std::vector<std::string>& args) {
    SpectrumCommand command;
    if (!ParseSpectrumArgs(args, &command)) return kExitUsage;
    WorkerPool::SetSharedThreads(WorkerPool::CoreCount(), false);

    std::set<std::string> outputs;
    bool failed = false, usage = false;
    for (const std::string& path : command.files) {
        std::string out = command.output;
        if (command.toFolder) {
            out = (std::filesystem::path(command.output) /
                   (std::filesystem::path(path).filename().string() + ".csv"))
                      .string();
            // Two files of the same name from different folders would share one CSV.
            if (!outputs.insert(out).second) {
                ReportError("vurma: %s: another file of this batch is already written as %s",
                            path.c_str(), out.c_str());
                failed = true;
                continue;
            }
        }
        std::string csv, peaks;
        const FileResult result = AnalyseFile(command, path, &csv, &peaks);
        if (result != FileResult::kOk) {
            (result == FileResult::kUsage ? usage : failed) = true;
            continue;
        }
        if (out == "-") {
            if (std::fwrite(csv.data(), 1, csv.size(), stdout) != csv.size() ||
                std::fflush(stdout) != 0) {
                ReportError(kMsgCsvCannotWrite, "-");
                failed = true;
            }
        } else if (WriteFileWhole(out, csv) != kCsvWriteOk) {
            failed = true;
            continue;
        }
        if (!peaks.empty()) {
            if (command.toFolder) std::printf("%s\n", path.c_str());
            std::fputs(peaks.c_str(), stdout);
            std::fflush(stdout);
        }
    }
    return usage ? kExitUsage : failed ? kExitFailed : kExitOk;
}

}  // namespace vurma
