#include "app/spectrogram_command.h"

#include <QGuiApplication>
#include <QImage>
#include <QSaveFile>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "analysis/report_error.h"
#include "analysis/ui_text.h"
#include "analysis/worker_pool.h"
#include "app/cli_args.h"
#include "app/export_command.h"
#include "display/spectrogram_image.h"
#include "export/csv_writer.h"
#include "media/media_session.h"
#include "media/pcm_stream.h"

namespace vurma {

const char kSpectrogramHelp[] =
    "  --spectrogram OUT.png [--size WxH] [--fft 256..16384]\n"
    "           [--window hann|hamming|blackman|blackman-harris|rectangular]\n"
    "           [--channels mix|all|N] [--log] [--floor DB] [--caption] FILE\n"
    "                         decode FILE without window or sound and write its\n"
    "                         spectrogram (the window's picture, levels in dBFS) as\n"
    "                         PNG, then exit; the FFT size follows the sampling rate\n"
    "                         (about 46 ms) unless given; window hann by default;\n"
    "                         --channels: the mix (default), every channel in a\n"
    "                         strip of its own, or channel N (1 = left); --log:\n"
    "                         logarithmic frequency axis; DB: level shown darkest\n"
    "                         (default -120); --caption: file name, length, rate,\n"
    "                         FFT and window above the picture; default size\n"
    "                         800x500, from 200x100 to 8000x4000\n"
    "  --spectrogram DIR FILE...\n"
    "                         the same for each FILE, written as DIR/<file name>.png;\n"
    "                         exit code 0 all written, 1 some file failed or too\n"
    "                         short to draw, 2 bad usage\n";

namespace {

constexpr char kMsgDecodeError[] = UI_TEXT("ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  ");

bool ParseSize(const std::string& text, int* width, int* height) {
    const std::size_t x = text.find('x');
    double w = 0, h = 0;
    if (x == std::string::npos || !ParseNumber(text.substr(0, x), &w) ||
        !ParseNumber(text.substr(x + 1), &h) || w != std::floor(w) || h != std::floor(h) ||
        w < 200 || w > 8000 || h < 100 || h > 4000)
        return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

bool ParseChannels(const std::string& text, SpectrogramSettings* settings) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    double n = 0;
    if (lower == "mix") {
        settings->channels = ChannelView::kMix;
    } else if (lower == "all") {
        settings->channels = ChannelView::kAll;
    } else if (ParseNumber(text, &n) && n == std::floor(n) && n >= 1 && n <= 64) {
        settings->channels = ChannelView::kOne;
        settings->channel = static_cast<int>(n) - 1;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool IsSpectrogramCommand(const std::vector<std::string>& args) {
    return HasOption(args, "--spectrogram");
}

bool ParseSpectrogramArgs(const std::vector<std::string>& args, SpectrogramCommand* command) {
    SpectrogramCommand o;
    bool haveOutput = false;
    const auto file = [&](const std::string& arg) {
        o.files.push_back(arg);
        return true;
    };
    const auto option = [&](const std::string& name, const std::string& value) {
        double number = 0;
        if (name == "--log") {
            o.settings.logFrequency = true;
        } else if (name == "--caption") {
            o.caption = true;
        } else if (name == "--spectrogram") {
            if (value.empty()) {
                UsageError("missing value for ", name);
                return false;
            }
            o.output = value;
            haveOutput = true;
        } else if (name == "--size") {
            if (!ParseSize(value, &o.width, &o.height)) {
                UsageError("--size takes WxH from 200x100 to 8000x4000, not ", value);
                return false;
            }
        } else if (name == "--fft") {
            if (!ParseNumber(value, &number) || number != std::floor(number) ||
                number > kSpectrogramMaxFft || !IsSpectrogramFftSize(static_cast<int>(number))) {
                UsageError("--fft takes 256, 512, 1024, 2048, 4096, 8192 or 16384, not ", value);
                return false;
            }
            o.settings.fftSize = static_cast<int>(number);
        } else if (name == "--window") {
            const auto shape = ParseWindowShape(value);
            if (!shape || std::find(std::begin(kSpectrogramWindows), std::end(kSpectrogramWindows),
                                    *shape) == std::end(kSpectrogramWindows)) {
                UsageError(
                    "--window takes hann, hamming, blackman, blackman-harris or rectangular, not ",
                    value);
                return false;
            }
            o.settings.window = *shape;
        } else if (name == "--channels") {
            if (!ParseChannels(value, &o.settings)) {
                UsageError("--channels takes mix, all or a channel number from 1, not ", value);
                return false;
            }
            o.channelsArg = value;
        } else {
            if (!ParseNumber(value, &number) || number >= o.settings.topDb || number < -1000) {
                UsageError("--floor takes dB below 0 (down to -1000), not ", value);
                return false;
            }
            o.settings.floorDb = number;
        }
        return true;
    };
    if (!ScanArgs(args, {"--log", "--caption"},
                  {"--spectrogram", "--size", "--fft", "--window", "--channels", "--floor"}, file,
                  option))
        return false;
    if (!haveOutput) {
        UsageError("--spectrogram OUT.png is missing", "");
        return false;
    }
    if (o.files.empty()) {
        UsageError("--spectrogram needs the media FILE to draw", "");
        return false;
    }
    if (!DecideBatchFolder(o.output, o.files.size(), &o.toFolder)) return false;
    *command = o;
    return true;
}

namespace {

// The picture of one file, its columns computed while it decodes.
struct FilePicture {
    std::unique_ptr<SpectrogramPlan> plan;
    std::unique_ptr<SpectrogramStream> stream;
};

// Lays the picture out for `frames` frames and streams the opened file into
// it; `meanwhile` runs on this thread while the file decodes.
media::PcmEnd StreamInto(media::PcmStream& decode, const SpectrogramCommand& command,
                         const media::LoadedMedia& loaded, std::uint64_t frames,
                         FilePicture* picture, const std::function<void()>& meanwhile) {
    const QRect plot =
        display::SpectrogramPlotRect(QSize(command.width, command.height), command.caption);
    const int strips = StripCount(command.settings, loaded.channels);
    picture->stream.reset();
    picture->plan = std::make_unique<SpectrogramPlan>(
        command.settings, loaded.sampleRate, loaded.channels, frames, 0,
        static_cast<double>(std::max<std::uint64_t>(frames, 1)), plot.width(),
        display::SpectrogramStripRows(plot, strips));
    picture->stream = std::make_unique<SpectrogramStream>(*picture->plan, loaded.bitsPerSample,
                                                          WorkerPool::Shared());
    SpectrogramStream* stream = picture->stream.get();
    if (media::Failed(decode.Start([stream](const media::PcmChunk& chunk) {
            stream->Push(chunk.data, chunk.frames);
            return true;
        })))
        return media::PcmEnd::Failed;
    if (meanwhile) meanwhile();
    return decode.Wait();
}

// True when the layout for `expected` frames does not hold the recording
// that proved `frames` long: another FFT size, or ends more than an eighth
// of a column apart (a visible shift).
bool NeedsNewLayout(const SpectrogramPlan& plan, std::uint64_t expected, std::uint64_t frames) {
    const SpectrogramSettings& s = plan.settings();
    if (EffectiveSpectrogramFft(s.fftSize, plan.sampleRate(), frames) !=
        EffectiveSpectrogramFft(s.fftSize, plan.sampleRate(), expected))
        return true;
    const double column = static_cast<double>(expected) / std::max(plan.columns(), 1);
    return std::fabs(static_cast<double>(frames) - static_cast<double>(expected)) > column / 8;
}

// Draws one file. Returns its exit code; every problem is reported, named
// with the file.
int DrawOne(const std::shared_ptr<media::IEngine>& engine, const SpectrogramCommand& command,
            const std::string& path, const std::string& outputPath,
            const std::function<void()>& meanwhile) {
    // Among several files, a failure is told once, on one line that names
    // the file: the reports of its load are gathered, not printed.
    std::string messages;
    const auto gather = [&](const Report& report) {
        std::string text = report.text;
        // The details' first line is the file's name, already in front.
        const std::size_t reason = report.details.find('\n');
        if (reason != std::string::npos) text += " (" + report.details.substr(reason + 1) + ")";
        while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        messages += (messages.empty() ? "" : " ") + text;
    };
    const ReportSink previous =
        command.toFolder ? SetThreadReportSink(gather) : SetThreadReportSink({});
    media::PcmStream decode(engine);
    media::LoadedMedia loaded;
    const bool opened = engine != nullptr && media::Succeeded(decode.Open(path, &loaded));
    SetThreadReportSink(previous);
    if (!opened) {
        // A single file's refusal is on stderr already, with its details.
        if (command.toFolder) ReportError("vurma: %s: %s", path.c_str(), messages.c_str());
        return kExitFailed;
    }
    if (command.settings.channels == ChannelView::kOne &&
        command.settings.channel >= loaded.channels) {
        const std::string what =
            "--channels: " + path + " has " + std::to_string(loaded.channels) + " channel(s), not ";
        UsageError(what.c_str(), command.channelsArg);
        return kExitUsage;
    }

    // Laid out for the announced length; a file that proves otherwise is
    // decoded once more for its true length (the columns are not kept).
    const std::uint64_t expected = static_cast<std::uint64_t>(
        std::llround(static_cast<double>(loaded.duration) * loaded.sampleRate / 1e7));
    FilePicture picture;
    media::PcmEnd end = StreamInto(decode, command, loaded, expected, &picture, meanwhile);
    std::uint64_t frames = picture.stream->framesPushed();
    if (end == media::PcmEnd::Complete && NeedsNewLayout(*picture.plan, expected, frames)) {
        if (EffectiveSpectrogramFft(command.settings.fftSize, loaded.sampleRate, frames) == 0) {
            // Too short for any frame: nothing to decode again.
            const QRect plot =
                display::SpectrogramPlotRect(QSize(command.width, command.height), command.caption);
            picture.stream.reset();
            picture.plan = std::make_unique<SpectrogramPlan>(
                command.settings, loaded.sampleRate, loaded.channels, frames, 0,
                static_cast<double>(std::max<std::uint64_t>(frames, 1)), plot.width(),
                display::SpectrogramStripRows(plot, StripCount(command.settings, loaded.channels)));
            picture.stream = std::make_unique<SpectrogramStream>(
                *picture.plan, loaded.bitsPerSample, WorkerPool::Shared());
        } else {
            end = StreamInto(decode, command, loaded, frames, &picture, meanwhile);
            frames = picture.stream->framesPushed();
        }
    }
    if (end != media::PcmEnd::Complete) {
        ReportError("vurma: %s: %s", path.c_str(), UiText(kMsgDecodeError).c_str());
        return kExitFailed;
    }
    picture.stream->Finish();

    QImage image(command.width, command.height, QImage::Format_RGB32);
    display::SpectrogramPicture drawn;
    drawn.plan = picture.plan.get();
    drawn.levels = &picture.stream->levels();
    drawn.sampleRate = loaded.sampleRate;
    drawn.topDb = command.settings.topDb;
    drawn.floorDb = command.settings.floorDb;
    if (command.caption)
        drawn.caption = display::SpectrogramCaption(std::filesystem::path(path).filename().string(),
                                                    static_cast<double>(frames) / loaded.sampleRate,
                                                    loaded.sampleRate, picture.plan->fftSize(),
                                                    command.settings.window);
    display::DrawSpectrogram(image, drawn);
    QSaveFile file(QString::fromStdString(outputPath));
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG", display::kPngQuality) ||
        !file.commit()) {
        ReportError(kMsgCsvCannotCreate, outputPath.c_str());
        return kExitFailed;
    }
    if (picture.plan->tooShort()) {
        // The picture says so too; nothing was drawn.
        ReportError("vurma: %s: %s", path.c_str(), UiText(display::kMsgTooShortToDraw).c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int DrawSpectrograms(const std::shared_ptr<media::IEngine>& engine,
                     const SpectrogramCommand& command, const std::function<void()>& meanwhile) {
    int exitCode = kExitOk;
    BatchOutputs outputs;
    for (const std::string& path : command.files) {
        const std::string outputPath =
            command.toFolder ? outputs.PathFor(command.output, path, ".png") : command.output;
        const int code = outputPath.empty() ? kExitFailed
                                            : DrawOne(engine, command, path, outputPath, meanwhile);
        exitCode = std::max(exitCode, code);
    }
    return exitCode;
}

int RunSpectrogramCommand(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    SpectrogramCommand command;
    if (!ParseSpectrogramArgs(args, &command)) return kExitUsage;

    // Every core computes columns while the decoder runs.
    WorkerPool::SetSharedThreads(WorkerPool::CoreCount(), false);
    const std::shared_ptr<media::IEngine> engine = media::CreateGstEngine();

    // Text needs a font database, which needs an application, not a display.
    // They are made while the first file decodes (the main thread only waits
    // then). Their start-up remarks about the desktop session mean nothing here.
    std::unique_ptr<QGuiApplication> app;
    const auto prepare = [&] {
        if (app) return;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        const QtMessageHandler previousHandler =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        app = std::make_unique<QGuiApplication>(argc, argv);
        qInstallMessageHandler(previousHandler);
        std::setlocale(LC_NUMERIC, "C");  // the application took the desktop's number format
        display::PrepareSpectrogramText();
    };
    const int exitCode = DrawSpectrograms(engine, command, prepare);
    prepare();  // when no file got as far as decoding
    return exitCode;
}

}  // namespace vurma
