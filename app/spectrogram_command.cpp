#include "app/spectrogram_command.h"

#include <QGuiApplication>
#include <QImage>
#include <QSaveFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "analysis/report_error.h"
#include "analysis/window_functions.h"
#include "app/cli_args.h"
#include "app/export_command.h"
#include "display/spectrogram_image.h"
#include "export/csv_writer.h"
#include "media/decode_whole.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"

namespace vurma {

const char kSpectrogramHelp[] =
    "  --spectrogram OUT.png [--size WxH] [--fft 512|1024|2048|4096]\n"
    "           [--window Rectangular|Hanning|Humming|Hamming] [--log] [--floor DB] FILE\n"
    "                         decode FILE without window or sound and write its\n"
    "                         spectrogram (the window's picture) as PNG, then exit;\n"
    "                         --log: logarithmic frequency axis; DB: level shown\n"
    "                         darkest (default -120); default size 800x500, from\n"
    "                         200x100 to 8000x4000\n"
    "  --spectrogram DIR FILE...\n"
    "                         the same for each FILE, written as DIR/<file name>.png;\n"
    "                         exit code 0 all written, 1 some file failed, 2 bad usage\n";

namespace {

constexpr auto kStallLimit = std::chrono::milliseconds(5000);

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

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
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
            o.settings.fftIndex = FftIndexArg(value);
            return o.settings.fftIndex >= 0;
        } else if (name == "--window") {
            o.settings.windowIndex = WindowIndexArg(value);
            return o.settings.windowIndex >= 0;
        } else {
            if (!ParseNumber(value, &number) || number >= o.settings.topDb || number < -1000) {
                UsageError("--floor takes dB below 0 (down to -1000), not ", value);
                return false;
            }
            o.settings.floorDb = number;
        }
        return true;
    };
    if (!ScanArgs(args, {"--log"}, {"--spectrogram", "--size", "--fft", "--window", "--floor"},
                  file, option))
        return false;
    if (!haveOutput) {
        UsageError("--spectrogram OUT.png is missing", "");
        return false;
    }
    if (o.files.empty()) {
        UsageError("--spectrogram needs the media FILE to draw", "");
        return false;
    }
    o.toFolder = o.files.size() > 1 || IsFolder(o.output);
    if (o.toFolder && !IsFolder(o.output)) {
        UsageError("several files need an existing folder, not ", o.output);
        return false;
    }
    *command = o;
    return true;
}

namespace {

// Columns computed while the file still decodes, on one thread beside the
// decoder, laid out for the length the file announces. They are kept when
// the decode ends at that length (the usual case).
class EarlyColumns {
  public:
    EarlyColumns(const SpectrogramCommand& command, media::CGrabberCallback* callback,
                 const media::LoadedMedia& loaded)
        : frames(std::max<std::uint32_t>(loaded.frameCount, 1)),
          plot(display::SpectrogramPlotRect(QSize(command.width, command.height))),
          plan(command.settings, loaded.sampleRate, 0, frames, plot.width(), plot.height()),
          levels(plot.width(), plot.height()) {
        SpectrogramSource source;
        source.pcm = {callback->m_pData, 0, loaded.channels, loaded.bitsPerSample};
        source.sampleRate = loaded.sampleRate;
        source.totalFrames = frames;
        thread_ = std::thread([this, source, callback]() mutable {
            while (!stop_.load()) {
                source.pcm.dataLen = callback->m_nDataLen.load(std::memory_order_acquire);
                if (levels.Compute(plan, source, 1, &stop_) == 0) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~EarlyColumns() { Stop(); }
    void Stop() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
    }

    const std::uint32_t frames;
    const QRect plot;
    const SpectrogramPlan plan;
    SpectrogramLevels levels;

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One decoded file on its way to a PNG: the session keeps the capture alive
// until the picture is written, on a worker thread of its own.
struct FileJob {
    std::string mediaPath;
    std::string outputPath;
    std::unique_ptr<media::MediaSession> session;
    std::unique_ptr<EarlyColumns> early;
    std::thread worker;
    bool written = false;
};

// Completes the picture of a finished capture and writes it. Runs on a
// worker thread: reports nothing itself (ReportError belongs to the main
// thread), the caller reports a failure to write.
bool WritePicture(const SpectrogramCommand& command, const SpectrogramSource& source,
                  EarlyColumns* early, const std::string& path, int threads) {
    QImage image(command.width, command.height, QImage::Format_RGB32);
    const QRect plot = display::SpectrogramPlotRect(image.size());
    const std::uint32_t frames = std::max<std::uint32_t>(CompleteFrames(source.pcm), 1);
    std::unique_ptr<SpectrogramPlan> plan;
    std::unique_ptr<SpectrogramLevels> levels;
    // The announced length is seldom exact (a few frames of rounding); the
    // early columns stay when it is off by under 1% of a column.
    if (early == nullptr || std::fabs(static_cast<double>(early->frames) - frames) >
                                early->frames / plot.width() / 100.0) {
        plan = std::make_unique<SpectrogramPlan>(command.settings, source.sampleRate, 0, frames,
                                                 plot.width(), plot.height());
        levels = std::make_unique<SpectrogramLevels>(plot.width(), plot.height());
    }
    const SpectrogramPlan& usedPlan = plan ? *plan : early->plan;
    SpectrogramLevels& usedLevels = levels ? *levels : early->levels;
    usedLevels.Compute(usedPlan, source, threads, nullptr);
    display::SpectrogramPicture picture;
    picture.plan = &usedPlan;
    picture.levels = &usedLevels;
    picture.sampleRate = source.sampleRate;
    picture.topDb = command.settings.topDb;
    picture.floorDb = command.settings.floorDb;
    display::DrawSpectrogram(image, picture);
    QSaveFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly) && image.save(&file, "PNG", display::kPngQuality) &&
           file.commit();
}

// Waits for the oldest file's picture and reports it when it was not written.
bool FinishOldest(std::deque<FileJob>& jobs) {
    FileJob& job = jobs.front();
    job.worker.join();
    const bool ok = job.written;
    if (!ok) ReportError(kMsgCsvCannotCreate, job.outputPath.c_str());
    jobs.pop_front();  // the session, and with it the capture, goes here
    return ok;
}

}  // namespace

int RunSpectrogramCommand(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    SpectrogramCommand command;
    if (!ParseSpectrogramArgs(args, &command)) return kExitUsage;

    // Text needs a font database, which needs an application, not a display.
    // Its start-up remarks about the desktop session mean nothing here.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QtMessageHandler previousHandler =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    std::setlocale(LC_NUMERIC, "C");  // the application took the desktop's number format

    // Files decode one after another on this thread while their first
    // columns are computed beside the decoder; the rest of each picture is
    // finished on all cores while the next file decodes.
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const std::shared_ptr<media::IEngine> engine = media::CreateGstEngine();
    std::deque<FileJob> jobs;
    std::set<std::string> outputs;
    bool allOk = true;
    for (const std::string& path : command.files) {
        FileJob job;
        job.mediaPath = path;
        job.outputPath = command.output;
        if (command.toFolder)
            job.outputPath = (std::filesystem::path(command.output) /
                              (std::filesystem::path(path).filename().string() + ".png"))
                                 .string();
        // Two files of the same name from different folders would share one
        // picture: the later one is refused rather than overwrite the first.
        if (command.toFolder && !outputs.insert(job.outputPath).second) {
            ReportError("vurma: %s: another file of this batch is already written as %s",
                        path.c_str(), job.outputPath.c_str());
            allOk = false;
            continue;
        }
        job.session = std::make_unique<media::MediaSession>(engine);
        media::LoadedMedia loaded;
        media::CGrabberCallback* callback = nullptr;
        // Among several files, a failure is told once, on one line that names
        // the file: the reports of its load are gathered, not printed.
        std::string messages;
        const auto gather = [&](const Report& report) {
            std::string text = report.text;
            // The details' first line is the file's name, already in front.
            const std::size_t reason = report.details.find('\n');
            if (reason != std::string::npos) text += " (" + report.details.substr(reason + 1) + ")";
            while (!text.empty() &&
                   (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            messages += (messages.empty() ? "" : " ") + text;
        };
        const ReportSink previous =
            command.toFolder ? SetThreadReportSink(gather) : SetThreadReportSink({});
        const auto watch = [&](media::CGrabberCallback* cb, const media::LoadedMedia& l) {
            job.early.reset();
            if (cb != nullptr) job.early = std::make_unique<EarlyColumns>(command, cb, l);
        };
        const bool decoded =
            engine != nullptr &&
            DecodeWhole(engine, *job.session, path, kStallLimit, &loaded, &callback, watch);
        SetThreadReportSink(previous);
        if (job.early) job.early->Stop();
        if (!decoded) {
            job.early.reset();
            if (command.toFolder) ReportError("vurma: %s: %s", path.c_str(), messages.c_str());
            allOk = false;
            continue;
        }
        SpectrogramSource source;
        source.pcm = {callback->m_pData, callback->m_nDataLen.load(std::memory_order_acquire),
                      loaded.channels, loaded.bitsPerSample};
        source.sampleRate = loaded.sampleRate;
        source.totalFrames = CompleteFrames(source.pcm);
        source.complete = true;
        while (static_cast<int>(jobs.size()) >= cores) allOk = FinishOldest(jobs) && allOk;
        jobs.push_back(std::move(job));
        FileJob& queued = jobs.back();
        queued.worker = std::thread([&command, source, &queued, cores] {
            queued.written =
                WritePicture(command, source, queued.early.get(), queued.outputPath, cores);
        });
    }
    while (!jobs.empty()) allOk = FinishOldest(jobs) && allOk;
    return allOk ? kExitOk : kExitFailed;
}

}  // namespace vurma
