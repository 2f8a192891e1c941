#include "app/export_command.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>
#include <utility>

#include "analysis/analysis_pass.h"
#include "analysis/report_error.h"
#include "analysis/sample_store.h"
#include "analysis/window_functions.h"
#include "export/csv_writer.h"
#include "media/engine.h"
#include "media/grabber_callback.h"
#include "media/media_session.h"

namespace vurma {

const char kExportHelp[] =
    "  --export OUT.csv [ｵﾌﾟｼｮﾝ] FILE\n"
    "        FILE を画面なし・音なしで最後まで読み込み、分析して OUT.csv に保存します。\n"
    "        --start 秒        分析の開始時間 (既定 0)\n"
    "        --search          最大振幅のｻﾝﾌﾟﾙから分析します (--start と同時には不可)\n"
    "        --fft N           ｻﾝﾌﾟﾙ数 512|1024|2048|4096 (既定 2048)\n"
    "        --window NAME     窓関数 Rectangular|Hanning|Humming (既定 Humming)\n"
    "        --gain G          増幅率 0.1|0.2|0.5|1|2|5|10|20|50|100 (既定 1)\n"
    "        終了ｺｰﾄﾞ: 0 成功, 1 処理できないﾌｧｲﾙや書き込みの失敗, 2 ｺﾏﾝﾄﾞﾗｲﾝの誤り\n";

namespace {

constexpr char kMsgUsage[] =
    "\n使い方: vurma --export OUT.csv [ｵﾌﾟｼｮﾝ] FILE  (詳しくは vurma --help)";
constexpr char kMsgMemory[] = "ﾒﾓﾘｰが不足しています。  ";
constexpr char kMsgDecodeError[] = "ﾌｧｲﾙの読み込み中にｴﾗｰが発生しました。  ";
constexpr char kMsgStartTooLate[] = "開始時間が終わりに近すぎるので計算できません。  ";

// How often the event queue is looked at while the file decodes.
constexpr auto kEventPoll = std::chrono::milliseconds(5);

void UsageError(const char* what, const std::string& value) {
    ReportError("%s%s%s", what, value.c_str(), kMsgUsage);
}

bool ParseDouble(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

// Index of the table entry equal to the number in `text`, or -1.
template <typename T, int Count>
int TableIndex(const std::string& text, const T (&table)[Count]) {
    double v = 0;
    if (!ParseDouble(text, &v)) return -1;
    for (int i = 0; i < Count; ++i) {
        if (static_cast<double>(table[i]) == v) return i;
    }
    return -1;
}

int WindowIndex(const std::string& name) {
    for (int i = 0; i < kOfferedWindowCount; ++i) {
        if (name == g_strWindowName[i]) return i;
    }
    return -1;
}

std::string StartLabel(int start, int sampleRate) {
    char text[64];
    std::snprintf(text, sizeof text, "%7.3f", static_cast<double>(start) / sampleRate);
    return text;
}

// Owns a zero-filled array of doubles; null when it could not be allocated.
std::unique_ptr<double[]> ZeroedArray(std::size_t n) {
    return std::unique_ptr<double[]>(new (std::nothrow) double[n == 0 ? 1 : n]());
}

}  // namespace

bool IsExportCommand(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--") return false;
        if (a == "--export" || a.rfind("--export=", 0) == 0) return true;
    }
    return false;
}

bool ParseExportArgs(const std::vector<std::string>& args, ExportOptions* options) {
    ExportOptions o;
    bool haveOutput = false;
    bool haveStart = false;
    bool haveFile = false;
    bool optionsEnded = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (haveFile) {
                UsageError("ﾌｧｲﾙは1つだけ指定してください: ", arg);
                return false;
            }
            o.mediaPath = arg;
            haveFile = true;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            inlineValue = true;
        }
        if (arg == "--search") {
            if (inlineValue) {
                UsageError("--search には値を付けられません: ", value);
                return false;
            }
            o.search = true;
            continue;
        }
        const bool known = arg == "--export" || arg == "--start" || arg == "--fft" ||
                           arg == "--window" || arg == "--gain";
        if (!known) {
            UsageError("不明なｵﾌﾟｼｮﾝです: ", args[i]);
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                UsageError("値がありません: ", arg);
                return false;
            }
            value = args[++i];
        }
        if (arg == "--export") {
            if (value.empty()) {
                UsageError("値がありません: ", arg);
                return false;
            }
            o.outputPath = value;
            haveOutput = true;
        } else if (arg == "--start") {
            double seconds = 0;
            if (!ParseDouble(value, &seconds) || seconds < 0) {
                UsageError("--start の値が正しくありません (0以上の秒数): ", value);
                return false;
            }
            o.startSeconds = seconds;
            haveStart = true;
        } else if (arg == "--fft") {
            o.fftIndex = TableIndex(value, g_nFftSize);
            if (o.fftIndex < 0) {
                UsageError("--fft の値が正しくありません (512|1024|2048|4096): ", value);
                return false;
            }
        } else if (arg == "--window") {
            o.windowIndex = WindowIndex(value);
            if (o.windowIndex < 0) {
                UsageError("--window の値が正しくありません (Rectangular|Hanning|Humming): ",
                           value);
                return false;
            }
        } else {
            o.gainIndex = TableIndex(value, g_dGain);
            if (o.gainIndex < 0) {
                UsageError("--gain の値が正しくありません (0.1|0.2|0.5|1|2|5|10|20|50|100): ",
                           value);
                return false;
            }
        }
    }

    if (haveStart && o.search) {
        UsageError("--start と --search は同時に指定できません。  ", "");
        return false;
    }
    if (!haveOutput) {
        UsageError("--export で保存先を指定してください。  ", "");
        return false;
    }
    if (!haveFile) {
        UsageError("分析するﾌｧｲﾙを指定してください。  ", "");
        return false;
    }
    *options = o;
    return true;
}

int ExportFileWithEngine(std::shared_ptr<media::IEngine> engine, const ExportOptions& options,
                         std::string* csvUtf8Out) {
    media::MediaSession session(std::move(engine));
    if (media::Failed(session.CreateGraph())) return kExitFailed;  // already reported
    session.SetUnsynchronised(true);

    media::LoadedMedia loaded;
    if (media::Failed(session.LoadMediaFile(options.mediaPath, &loaded))) return kExitFailed;
    media::CGrabberCallback* callback = session.callback();
    if (callback == nullptr || loaded.sampleRate <= 0 || loaded.channels <= 0) {
        ReportError("%s", kMsgDecodeError);
        return kExitFailed;
    }

    auto samples = ZeroedArray(loaded.frameCount);
    auto windowed = ZeroedArray(loaded.frameCount);
    auto spectrum = std::unique_ptr<SpectrumArrays>(new (std::nothrow) SpectrumArrays());
    if (!samples || !windowed || !spectrum) {
        ReportError("%s", kMsgMemory);
        return kExitFailed;
    }

    // Decode the whole file, as the first playback does, but unpaced.
    if (media::Failed(session.RunGraph())) {
        ReportError("%s", kMsgDecodeError);
        return kExitFailed;
    }
    for (bool done = false; !done;) {
        long code = 0;
        while (!done && session.GetEvent(&code)) {
            if (code == media::EC_COMPLETE) done = true;
            if (code == media::EC_ERRORABORT) {
                session.StopGraph();
                ReportError("%s", kMsgDecodeError);
                return kExitFailed;
            }
        }
        if (!done) std::this_thread::sleep_for(kEventPoll);
    }

    // Finish the capture: nothing more is appended once the flag is clear.
    callback->m_bCapture.store(0, std::memory_order_release);
    session.StopGraph();
    PcmView pcm;
    pcm.data = callback->m_pData;
    pcm.dataLen = callback->m_nDataLen.load(std::memory_order_acquire);
    pcm.channels = loaded.channels;
    pcm.bitsPerSample = loaded.bitsPerSample;
    std::uint32_t frames = CompleteFrames(pcm);
    if (frames > loaded.frameCount) frames = loaded.frameCount;  // never beyond the arrays
    ConvertSamples(pcm, 0, frames, samples.get(), windowed.get(), 0);
    const int nSamples = static_cast<int>(frames);

    const FinishDecision finish = DecideFinishCapture(nSamples, options.fftIndex);
    if (finish.tooFew) {
        ReportError("%s", kMsgTooFewSamplesToCompute);
        return kExitFailed;
    }
    AnalysisSettings settings;
    settings.fftIndex = finish.fftIndex;
    settings.gainIndex = options.gainIndex;
    settings.windowIndex = options.windowIndex;
    const int N = g_nFftSize[settings.fftIndex];

    int start = 0;
    if (options.search) {
        start = FindLoudestSample(samples.get(), nSamples);
    } else {
        const double s = std::trunc(options.startSeconds * loaded.sampleRate);
        start = s < static_cast<double>(nSamples) ? static_cast<int>(s) : nSamples;
    }

    AnalysisResult result;
    if (!Analyze(samples.get(), windowed.get(), nSamples, start, loaded.sampleRate, settings,
                 *spectrum, &result)) {
        ReportError("%s", nSamples < N ? kMsgTooFewSamplesForChoice : kMsgStartTooLate);
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
    csv.spectrumDb = spectrum->db;
    const std::string text = BuildCsvText(csv);
    if (csvUtf8Out != nullptr) *csvUtf8Out = text;

    if (!options.outputPath.empty() && WriteCsvFile(options.outputPath, text) != kCsvWriteOk) {
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace vurma
