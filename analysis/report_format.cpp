// The report's JSON line and its readable rows.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "analysis/recording_report.h"

namespace vurma {
namespace {

constexpr char kRowFile[] = UI_TEXT("ファイル");
constexpr char kRowDuration[] = UI_TEXT("長さ");
constexpr char kRowRate[] = UI_TEXT("サンプリング周波数");
constexpr char kRowChannels[] = UI_TEXT("チャンネル数");
constexpr char kRowCodec[] = UI_TEXT("コーデック");
constexpr char kRowLossless[] = UI_TEXT("可逆");
constexpr char kRowSampleFormat[] = UI_TEXT("サンプル形式");
constexpr char kRowBits[] = UI_TEXT("ビット数");
constexpr char kRowEffectiveBits[] = UI_TEXT("有効ビット数");
constexpr char kRowIntegrated[] = UI_TEXT("統合ラウドネス");
constexpr char kRowRange[] = UI_TEXT("ラウドネスレンジ");
constexpr char kRowMomentary[] = UI_TEXT("最大モーメンタリー");
constexpr char kRowShortTerm[] = UI_TEXT("最大ショートターム");
constexpr char kRowTruePeak[] = UI_TEXT("トゥルーピーク");
constexpr char kRowSamplePeak[] = UI_TEXT("サンプルピーク");
constexpr char kRowRms[] = UI_TEXT("RMS");
constexpr char kRowClipped[] = UI_TEXT("クリップしたサンプル");
constexpr char kRowFirstClips[] = UI_TEXT("最初のクリップ");
constexpr char kRowDc[] = UI_TEXT("DC オフセット");
constexpr char kRowCorrelation[] = UI_TEXT("チャンネル間の相関");
constexpr char kRowSilenceStart[] = UI_TEXT("先頭の無音");
constexpr char kRowSilenceEnd[] = UI_TEXT("末尾の無音");
constexpr char kRowBandwidth[] = UI_TEXT("帯域幅");
constexpr char kRowLossy[] = UI_TEXT("非可逆圧縮の疑い");
constexpr char kRowNotes[] = UI_TEXT("注記");
constexpr char kRowError[] = UI_TEXT("エラー");
constexpr char kYes[] = UI_TEXT("はい");
constexpr char kNo[] = UI_TEXT("いいえ");

// Fixed decimals whatever the locale; "null" for what is not finite.
std::string Number(double value, int decimals) {
    if (!std::isfinite(value)) return "null";
    if (value == 0.0) value = 0.0;  // no "-0.00"
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    std::string out(text, result.ptr);
    if (out.find_first_not_of("-0.") == std::string::npos && out[0] == '-') out.erase(0, 1);
    return out;
}

std::string Number(const std::optional<double>& value, int decimals) {
    return value ? Number(*value, decimals) : "null";
}

template <class T, class F>
std::string List(const std::vector<T>& values, F format, const char* separator) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out += separator;
        out += format(values[i]);
    }
    return out;
}

std::string Shown(const std::string& json, const char* unit = nullptr) {
    if (json == "null") return "-";
    return unit != nullptr ? json + " " + unit : json;
}

// Valid UTF-8 sequence length at p, or 0.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80         ? 1
                      : (c >> 5) == 6  ? 2
                      : (c >> 4) == 14 ? 3
                      : (c >> 3) == 30 ? 4
                                       : 0;
    if (len == 0 || i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    }
    return len;
}

}  // namespace

void ApplyStoredFormat(RecordingReport* report, const StoredFormat& stored) {
    report->stored = stored;
    const std::string& f = stored.sampleFormat;
    const bool integer = f == "u8" || f == "s16" || f == "s24" || f == "s32";
    if (!integer) {
        report->effectiveBits.reset();
    } else if (report->effectiveBits && stored.bits > 0 && *report->effectiveBits > stored.bits) {
        report->effectiveBits = stored.bits;
    }
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t len = Utf8Length(text, i);
        if (len == 0) {
            out += "\\ufffd";  // not UTF-8: a replacement character
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out.append(text, i, len);
        }
        i += len;
    }
    return out + "\"";
}

std::string ReportErrorJson(const std::string& file, const std::string& error) {
    return "{\"file\": " + JsonString(file) + ", \"error\": " + JsonString(error) + "}";
}

std::string ReportJson(const RecordingReport& r) {
    auto db = [](double v) { return Number(v, 2); };
    auto text = [](const std::string& s) {
        return s.empty() ? std::string("null") : JsonString(s);
    };
    std::string j = "{";
    auto key = [&j](const char* name, const std::string& value) {
        if (j.size() > 1) j += ", ";
        j += '"';
        j += name;
        j += "\": ";
        j += value;
    };
    key("file", JsonString(r.file));
    key("duration_s", Number(r.durationS, 3));
    key("sample_rate", std::to_string(r.sampleRate));
    key("channels", std::to_string(r.channels));
    key("codec", text(r.stored.codec));
    key("lossless", r.stored.codec.empty() ? "null" : r.stored.lossless ? "true" : "false");
    key("sample_format", text(r.stored.sampleFormat));
    key("bits", r.stored.bits > 0 ? std::to_string(r.stored.bits) : "null");
    key("effective_bits", r.effectiveBits ? std::to_string(*r.effectiveBits) : "null");
    key("integrated_lufs", Number(r.integratedLufs, 2));
    key("loudness_range_lu", Number(r.loudnessRangeLu, 2));
    key("max_momentary_lufs", Number(r.maxMomentaryLufs, 2));
    key("max_short_term_lufs", Number(r.maxShortTermLufs, 2));
    key("true_peak_dbtp", "[" + List(r.truePeakDbtp, db, ", ") + "]");
    key("sample_peak_dbfs", "[" + List(r.samplePeakDbfs, db, ", ") + "]");
    key("rms_dbfs", "[" + List(r.rmsDbfs, db, ", ") + "]");
    key("clipped_samples",
        "[" +
            List(
                r.clippedSamples, [](std::uint64_t v) { return std::to_string(v); }, ", ") +
            "]");
    key("first_clips_s", "[" +
                             List(
                                 r.firstClipsS, [](double v) { return Number(v, 4); }, ", ") +
                             "]");
    key("dc_offset", "[" +
                         List(
                             r.dcOffset, [](double v) { return Number(v, 6); }, ", ") +
                         "]");
    key("correlation", Number(r.correlation, 4));
    key("silence_start_s", Number(r.silenceStartS, 3));
    key("silence_end_s", Number(r.silenceEndS, 3));
    key("bandwidth_hz", Number(r.bandwidthHz, 0));
    key("lossy_suspect", r.lossySuspect ? (*r.lossySuspect ? "true" : "false") : "null");
    key("notes", "[" +
                     List(
                         r.notes, [](const char* n) { return JsonString(UiText(n)); }, ", ") +
                     "]");
    return j + "}";
}

std::vector<std::pair<std::string, std::string>> ReportRows(const RecordingReport& r, TextMap tr) {
    auto dbList = [](const std::vector<double>& v, const char* unit) {
        return v.empty()
                   ? std::string("-")
                   : List(
                         v,
                         [](double x) {
                             return Number(x, 2) == "null" ? std::string("-inf") : Number(x, 2);
                         },
                         ", ") +
                         " " + unit;
    };
    auto yesNo = [&](std::optional<bool> v) { return v ? tr(*v ? kYes : kNo) : std::string("-"); };
    std::vector<std::pair<std::string, std::string>> rows;
    auto row = [&](const char* label, std::string value) {
        rows.emplace_back(tr(label), std::move(value));
    };
    row(kRowFile, r.file);
    row(kRowDuration, Number(r.durationS, 3) + " s");
    row(kRowRate, std::to_string(r.sampleRate) + " Hz");
    row(kRowChannels, std::to_string(r.channels));
    row(kRowCodec, r.stored.codec.empty() ? "-" : r.stored.codec);
    row(kRowLossless,
        yesNo(r.stored.codec.empty() ? std::nullopt : std::optional<bool>(r.stored.lossless)));
    row(kRowSampleFormat, r.stored.sampleFormat.empty() ? "-" : r.stored.sampleFormat);
    row(kRowBits, r.stored.bits > 0 ? std::to_string(r.stored.bits) : "-");
    row(kRowEffectiveBits, r.effectiveBits ? std::to_string(*r.effectiveBits) : "-");
    row(kRowIntegrated, Shown(Number(r.integratedLufs, 2), "LUFS"));
    row(kRowRange, Shown(Number(r.loudnessRangeLu, 2), "LU"));
    row(kRowMomentary, Shown(Number(r.maxMomentaryLufs, 2), "LUFS"));
    row(kRowShortTerm, Shown(Number(r.maxShortTermLufs, 2), "LUFS"));
    row(kRowTruePeak, dbList(r.truePeakDbtp, "dBTP"));
    row(kRowSamplePeak, dbList(r.samplePeakDbfs, "dBFS"));
    row(kRowRms, dbList(r.rmsDbfs, "dBFS"));
    row(kRowClipped,
        List(
            r.clippedSamples, [](std::uint64_t v) { return std::to_string(v); }, ", "));
    row(kRowFirstClips, r.firstClipsS.empty()
                            ? "-"
                            : List(
                                  r.firstClipsS, [](double v) { return Number(v, 4); }, ", ") +
                                  " s");
    row(kRowDc, List(
                    r.dcOffset, [](double v) { return Number(v, 6); }, ", "));
    row(kRowCorrelation, Shown(Number(r.correlation, 4)));
    row(kRowSilenceStart, Shown(Number(r.silenceStartS, 3), "s"));
    row(kRowSilenceEnd, Shown(Number(r.silenceEndS, 3), "s"));
    row(kRowBandwidth, Shown(Number(r.bandwidthHz, 0), "Hz"));
    row(kRowLossy, yesNo(r.lossySuspect));
    if (!r.notes.empty())
        row(kRowNotes, List(
                           r.notes, [&](const char* n) { return tr(n); }, "; "));
    return rows;
}

namespace {

std::string LayOut(const std::vector<std::pair<std::string, std::string>>& rows) {
    // Pad by display width, not bytes: a full-width character takes two
    // columns, a half-width one (ｱ) one.
    auto width = [](const std::string& s) {
        std::size_t w = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if ((c & 0xC0) == 0x80) continue;
            const bool halfWidth = c == 0xEF && i + 1 < s.size() &&
                                   (static_cast<unsigned char>(s[i + 1]) == 0xBD ||
                                    static_cast<unsigned char>(s[i + 1]) == 0xBE);
            w += c >= 0xE0 && !halfWidth ? 2 : 1;
        }
        return w;
    };
    std::size_t widest = 0;
    for (const auto& [label, value] : rows) widest = std::max(widest, width(label));
    std::string out;
    for (const auto& [label, value] : rows) {
        out += label;
        out.append(widest - width(label) + 2, ' ');
        out += value;
        out += '\n';
    }
    return out;
}

}  // namespace

std::string ReportTable(const RecordingReport& report, TextMap text) {
    return LayOut(ReportRows(report, text));
}

std::string ReportErrorTable(const std::string& file, const std::string& error, TextMap text) {
    return LayOut({{text(kRowFile), file}, {text(kRowError), error}});
}

}  // namespace vurma
