#include "app/report_command.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <sstream>

#include "analysis/report_error.h"
#include "analysis/worker_pool.h"
#include "app/cli_args.h"
#include "app/export_command.h"
#include "media/media_session.h"
#include "media/pcm_stream.h"
#include "media/stored_format.h"

namespace vurma {

const char kReportHelp[] =
    "  --report [--json] FILE...\n"
    "                         decode each FILE without window or sound and print its\n"
    "                         recording report (loudness, peaks, clipping, DC offset,\n"
    "                         correlation, silence, bandwidth, lossy-source check) as a\n"
    "                         table, or with --json one JSON object per line, in the\n"
    "                         order given; exit code 0 all measured, 1 some file\n"
    "                         failed, 2 bad usage\n";

namespace {

constexpr auto kStallLimit = std::chrono::milliseconds(5000);
constexpr char kMsgCannotMeasure[] = UI_TEXT("ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  ");
constexpr char kMsgTruncated[] =
    UI_TEXT("ﾌｧｲﾙが途中で切れています (%.3f 秒のうち %.3f 秒しか読めません)。");

struct Options {
    bool json = false;
    std::vector<std::string> files;
};

bool ParseReportArgs(const std::vector<std::string>& args, Options* options) {
    const bool ok = ScanArgs(
        args, {"--report", "--json"}, {},
        [&](const std::string& file) {
            options->files.push_back(file);
            return true;
        },
        [&](const std::string& name, const std::string&) {
            if (name == "--json") options->json = true;
            return true;
        });
    if (ok && options->files.empty()) UsageError("--report needs at least one file", "");
    return ok && !options->files.empty();
}

// Sets a thread report sink for a scope.
class ThreadSinkGuard {
  public:
    explicit ThreadSinkGuard(ReportSink sink) : previous_(SetThreadReportSink(std::move(sink))) {}
    ~ThreadSinkGuard() { SetThreadReportSink(std::move(previous_)); }
    ThreadSinkGuard(const ThreadSinkGuard&) = delete;
    ThreadSinkGuard& operator=(const ThreadSinkGuard&) = delete;

  private:
    ReportSink previous_;
};

// One file's outcome, printed once every earlier file is printed.
struct Slot {
    bool done = false;
    bool ok = false;
    RecordingReport report;
    std::string error;
};

}  // namespace

bool IsReportCommand(const std::vector<std::string>& args) { return HasOption(args, "--report"); }

bool ReportFile(const std::shared_ptr<media::IEngine>& engine, const std::string& path,
                RecordingReport* report, std::string* error) {
    // The load's messages become this file's error: this thread reports to
    // its own sink meanwhile.
    std::string messages;
    const ThreadSinkGuard sink([&messages, &path](const Report& reported) {
        std::string text = reported.text.substr(0, reported.text.find_last_not_of(" \n") + 1);
        // The details' lines, but for the file's name: the JSON names it.
        const std::string name = std::filesystem::path(path).filename().string();
        std::string details;
        std::istringstream lines(reported.details);
        for (std::string line; std::getline(lines, line);) {
            line.erase(line.find_last_not_of(' ') + 1);
            if (line.empty() || line == path || line == name) continue;
            details += (details.empty() ? "" : " ") + line;
        }
        if (!details.empty()) text += " (" + details + ")";
        if (!messages.empty() && !text.empty()) messages += ' ';
        messages += text;
    });
    std::unique_ptr<ReportAccumulator> accumulator;
    std::size_t frameBytes = 0;
    media::LoadedMedia loaded;
    const media::PcmEnd end =
        engine == nullptr
            ? media::PcmEnd::Failed
            : media::StreamWholeFile(
                  engine, path, &loaded,
                  [&](const media::LoadedMedia& l) {
                      accumulator = std::make_unique<ReportAccumulator>(
                          PcmLayout{l.channels, l.bitsPerSample, l.sampleRate});
                      frameBytes = static_cast<std::size_t>(l.channels) * (l.bitsPerSample / 8);
                      return accumulator->ok();
                  },
                  [&](const media::PcmChunk& chunk) {
                      accumulator->Feed(chunk.data, chunk.frames * frameBytes);
                      return true;
                  },
                  kStallLimit);
    if (end != media::PcmEnd::Complete) {
        *error = messages.empty() ? UiText(kMsgCannotMeasure) : messages;
        return false;
    }
    // A file that ends well before the length its header announces is cut
    // short (an interrupted copy); estimates of variable bit rates may be a
    // little off, hence the margin.
    const double announced = loaded.duration / 1e7;
    const double decoded = static_cast<double>(accumulator->frames()) / loaded.sampleRate;
    if (announced - decoded > std::max(1.0, 0.05 * announced)) {
        char text[256];
        std::snprintf(text, sizeof text, UiText(kMsgTruncated).c_str(), announced, decoded);
        *error = text;
        return false;
    }
    *report = accumulator->Finish();
    report->file = path;
    StoredFormat stored;
    if (media::ProbeStoredFormat(path, &stored)) ApplyStoredFormat(report, stored);
    return true;
}

int RunReportCommand(const std::vector<std::string>& args) {
    Options options;
    if (!ParseReportArgs(args, &options)) return kExitUsage;

    WorkerPool::SetSharedThreads(WorkerPool::CoreCount(), false);
    WorkerPool& pool = WorkerPool::Shared();
    const std::shared_ptr<media::IEngine> engine = media::CreateGstEngine();

    const int count = static_cast<int>(options.files.size());
    std::vector<Slot> slots(options.files.size());
    std::mutex mutex;
    std::condition_variable finished;
    int done = 0, failed = 0;  // guarded by mutex
    // The pool runs as many files at once as it has threads, in order.
    for (int i = 0; i < count; ++i) {
        pool.Post([&, i] {
            Slot result;
            result.ok = ReportFile(engine, options.files[i], &result.report, &result.error);
            std::lock_guard lock(mutex);
            ++done;
            if (!result.ok) ++failed;
            slots[i] = std::move(result);
            slots[i].done = true;
            finished.notify_all();
        });
    }

    // Results go out in the order given; the progress line (only on a
    // terminal) is taken away while they are printed.
    const bool progress = isatty(STDERR_FILENO) == 1;
    int printed = 0, shownDone = -1;
    std::unique_lock lock(mutex);
    while (printed < count) {
        finished.wait(lock, [&] { return done != shownDone; });
        shownDone = done;
        if (progress) std::fputs("\r\033[K", stderr);
        for (; printed < count && slots[printed].done; ++printed) {
            Slot& slot = slots[printed];
            const std::string& file = options.files[printed];
            if (!slot.ok) {
                std::fprintf(stderr, "vurma: %s: %s\n", file.c_str(), slot.error.c_str());
                std::printf("%s\n", options.json ? ReportErrorJson(file, slot.error).c_str()
                                                 : ReportErrorTable(file, slot.error).c_str());
            } else {
                std::printf("%s\n", options.json ? ReportJson(slot.report).c_str()
                                                 : ReportTable(slot.report).c_str());
            }
            slot.report = {};
        }
        std::fflush(stdout);
        if (progress && printed < count) {
            std::fprintf(stderr, "%d/%d files, %d failed", done, count, failed);
            std::fflush(stderr);
        }
    }
    return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace vurma
