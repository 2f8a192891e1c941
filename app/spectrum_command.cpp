#include "app/spectrum_command.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>

#include "analysis/report_error.h"
#include "analysis/ui_text.h"
#include "analysis/worker_pool.h"
#include "app/cli_args.h"
#include "app/export_command.h"
#include "export/csv_writer.h"
#include "export/spectrum_csv.h"
#include "media/engine.h"
#include "media/media_session.h"
#include "media/pcm_stream.h"

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
    "                         peaks of the first set's average as frequency, level,\n"
    "                         note and cents against A4 = HZ (400 to 480, default 440)\n"
    "  --spectrum DIR FILE...\n"
    "                         the same for each FILE, written as DIR/<file name>.csv;\n"
    "                         exit code 0 all written, 1 some file failed, 2 bad usage\n";

namespace {

constexpr char kMsgDecodeError[] = UI_TEXT("ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  ");
constexpr char kMsgSpanTooShort[] =
    UI_TEXT("区間がFFTの1ﾌﾚｰﾑ(%dｻﾝﾌﾟﾙ)より短いので、ｽﾍﾟｸﾄﾙを計算できません。  ");

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

bool ChannelsPresent(const SpectrumCommand& c, int channels) {
    for (SpectrumChannel channel : c.settings.channels) {
        if (!HasSpectrumChannel(channel, channels)) {
            UsageError("the file has one channel only, no ", SpectrumChannelName(channel));
            return false;
        }
    }
    return true;
}

enum class FileResult { kOk, kFailed, kUsage };

// Streams one file through the accumulator, only the frames of the span,
// ending the decode once past it; the text of its CSV and its peak lines
// go to the out parameters.
FileResult AnalyseFile(const SpectrumCommand& c, const std::string& path, std::string* csv,
                       std::string* peakLines) {
    const std::shared_ptr<media::IEngine> engine = media::CreateGstEngine();
    if (engine == nullptr) return FileResult::kFailed;
    SpanSpectrumSettings settings = c.settings;
    std::unique_ptr<SpanAccumulator> acc;
    std::uint64_t first = 0, end = UINT64_MAX, seen = 0;
    std::size_t frameBytes = 0;
    bool usage = false;
    // On this thread, after the load: the format is known, nothing decoded yet.
    const auto begin = [&](const media::LoadedMedia& l) {
        if (l.channels <= 0 || l.sampleRate <= 0 || l.bitsPerSample % 8 != 0) return false;
        if (!ChannelsPresent(c, l.channels)) {
            usage = true;
            return false;
        }
        if (c.allChannels) settings.channels = AllSpectrumChannels(l.channels);
        first = static_cast<std::uint64_t>(std::floor(c.fromSeconds * l.sampleRate));
        if (c.toSeconds >= 0)
            end = static_cast<std::uint64_t>(std::floor(c.toSeconds * l.sampleRate));
        frameBytes = static_cast<std::size_t>(l.channels) * (l.bitsPerSample / 8);
        acc = std::make_unique<SpanAccumulator>(settings, l.sampleRate,
                                                PcmFormat{l.channels, l.bitsPerSample, false},
                                                &WorkerPool::Shared());
        return true;
    };
    // On the decoder's thread, chunk by chunk in file order.
    const auto consume = [&](const media::PcmChunk& chunk) {
        const std::uint64_t a = chunk.firstFrame, b = a + chunk.frames;
        seen = b;
        const std::uint64_t lo = std::max(a, first), hi = std::min(b, end);
        if (hi > lo) acc->Feed(chunk.data + (lo - a) * frameBytes, (hi - lo) * frameBytes);
        return b < end;  // past the span: the rest of the file is not needed
    };
    media::LoadedMedia loaded;
    const media::PcmEnd ended = media::StreamWholeFile(engine, path, &loaded, begin, consume);
    if (usage) return FileResult::kUsage;
    if (ended == media::PcmEnd::Refused) return FileResult::kFailed;  // reported by the load
    const bool whole = ended == media::PcmEnd::Complete ||
                       (ended == media::PcmEnd::Cancelled && acc != nullptr && seen >= end);
    if (!whole) {
        ReportError(kMsgDecodeError);
        return FileResult::kFailed;
    }
    if (first >= seen) {
        char length[64];
        std::snprintf(length, sizeof length, "--from lies beyond the end of the file (%.3f s): ",
                      static_cast<double>(seen) / loaded.sampleRate);
        UsageError(length, c.fromText);
        return FileResult::kUsage;
    }
    const SpanSpectrum spectrum = acc->Finish();
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
    if (!DecideBatchFolder(o.output, o.files.size(), &o.toFolder)) return false;
    if (o.settings.channels.empty()) o.settings.channels = {SpectrumChannel::kMix};
    *command = o;
    return true;
}

int RunSpectrumCommand(const std::vector<std::string>& args) {
    SpectrumCommand command;
    if (!ParseSpectrumArgs(args, &command)) return kExitUsage;
    WorkerPool::SetSharedThreads(WorkerPool::CoreCount(), false);

    BatchOutputs outputs;
    bool failed = false, usage = false;
    for (const std::string& path : command.files) {
        std::string out = command.output;
        if (command.toFolder) {
            out = outputs.PathFor(command.output, path, ".csv");
            if (out.empty()) {
                failed = true;
                continue;
            }
        }
        // Among several files, a failure is told once, on one line that names
        // the file: its reports are gathered, not printed.
        std::string messages;
        const auto gather = [&](const Report& report) {
            std::string text = report.text;
            const std::size_t reason = report.details.find('\n');  // below the file's name
            if (reason != std::string::npos) text += " (" + report.details.substr(reason + 1) + ")";
            while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
            messages += (messages.empty() ? "" : " ") + text;
        };
        const ReportSink previous =
            command.toFolder ? SetThreadReportSink(gather) : SetThreadReportSink({});
        std::string csv, peaks;
        const FileResult result = AnalyseFile(command, path, &csv, &peaks);
        SetThreadReportSink(previous);
        if (result != FileResult::kOk) {
            if (command.toFolder) ReportError("vurma: %s: %s", path.c_str(), messages.c_str());
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
