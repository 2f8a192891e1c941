#include "analysis_pass.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "settings.h"
#include "ui_text.h"
#include "window_functions.h"

namespace vurma {

const double g_dSemitone[13] = {1.0,      1.059463, 1.122462, 1.189207, 1.259921,
                                1.334840, 1.414214, 1.498307, 1.587401, 1.681793,
                                1.781797, 1.887749, 2.0};

const char* const g_strNoteName[13] = {UI_TEXT("ﾄﾞ"), UI_TEXT("ﾄﾞ#"), UI_TEXT("ﾚ"),   UI_TEXT("ﾚ#"),
                                       UI_TEXT("ﾐ"),  UI_TEXT("ﾌｧ"),  UI_TEXT("ﾌｧ#"), UI_TEXT("ｿ"),
                                       UI_TEXT("ｿ#"), UI_TEXT("ﾗ"),   UI_TEXT("ﾗ#"),  UI_TEXT("ｼ"),
                                       UI_TEXT("ﾄﾞ")};

namespace {

constexpr int kNoteWidth = 13;
constexpr int kNameWidth = 3;

// Code points in a UTF-8 string (continuation bytes do not count).
int CountChars(const char* text) {
    int count = 0;
    for (const char* p = text; *p; ++p)
        if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) ++count;
    return count;
}

// Writes `count` blanks followed by `text` into out; returns the new end.
char* AppendPadded(char* out, const char* text, int width) {
    for (int pad = width - CountChars(text); pad > 0; --pad) *out++ = ' ';
    const std::size_t len = std::strlen(text);
    std::memcpy(out, text, len);
    return out + len;
}

// The note text into a caller buffer (at least 64 bytes); allocates only
// when `text` translates the octave and the name.
void FormatNoteTo(char* buffer, std::size_t size, int k, int N, int sampleRate,
                  TextMap text = nullptr) {
    buffer[0] = '\0';
    if (N <= 0) return;
    const double f = static_cast<double>(sampleRate) * k / N;
    if (!(f > 0) || !std::isfinite(f)) return;

    // f = mantissa * 2^exp with mantissa in [0.5, 1): floor(log2 f) = exp - 1,
    // exact also for powers of two, and r = f / 2^e is exact.
    int exp = 0;
    std::frexp(f, &exp);
    const int e = exp - 1;
    const double r = std::ldexp(f, -e);
    if (e - 5 <= 0) return;

    int name = -1;
    for (int i = 0; i < 12; ++i) {
        if (g_dSemitone[i] <= r && r < g_dSemitone[i + 1]) {
            name = i;
            break;
        }
    }
    if (name < 0) return;

    // "ｵｸﾀｰﾌﾞ%2d %3s" with the name padded by characters, then the whole
    // text right-aligned in 13 characters.
    const char* octave = UI_TEXT("ｵｸﾀｰﾌﾞ%2d ");
    const char* noteName = g_strNoteName[name];
    std::string shownOctave, shownName;
    if (text != nullptr) {
        shownOctave = text(octave);
        shownName = text(noteName);
        octave = shownOctave.c_str();
        noteName = shownName.c_str();
    }
    char note[64];
    int len = std::snprintf(note, sizeof note, octave, e - 5);
    if (len < 0 || len >= static_cast<int>(sizeof note) - 16 || std::strlen(noteName) > 12) return;
    *AppendPadded(note + len, noteName, kNameWidth) = '\0';

    if (std::strlen(note) + kNoteWidth + 1 > size) return;
    *AppendPadded(buffer, note, kNoteWidth) = '\0';
}

void FormatPeakTo(char* buffer, std::size_t size, double levelDb, int k, int N, int sampleRate) {
    buffer[0] = '\0';
    if (N <= 0) return;
    // The product first, then the quotient truncated toward zero.
    const std::int64_t hz = static_cast<std::int64_t>(sampleRate) * k / N;
    std::snprintf(buffer, size, "%7.2fdB@%5dHz", levelDb, static_cast<int>(hz));
}

}  // namespace

std::string PadLeftChars(const std::string& text, int width) {
    const int pad = width - CountChars(text.c_str());
    if (pad <= 0) return text;
    return std::string(static_cast<std::size_t>(pad), ' ') + text;
}

int FindPeakBin(const double* db, int N) {
    double best = -1000.0;
    int peak = 1;
    for (int k = 1; k <= N / 2; ++k) {
        if (db[k] > best) {
            best = db[k];
            peak = k;
        }
    }
    return peak;
}

std::string FormatPeak(double levelDb, int k, int N, int sampleRate) {
    char buffer[128];
    FormatPeakTo(buffer, sizeof buffer, levelDb, k, N, sampleRate);
    return buffer;
}

std::string FormatNote(int k, int N, int sampleRate, TextMap text) {
    char buffer[128];
    FormatNoteTo(buffer, sizeof buffer, k, N, sampleRate, text);
    return buffer;
}

bool Analyze(const double* samples, double* windowed, int nSamples, int start, int sampleRate,
             const AnalysisSettings& settings, SpectrumArrays& spectrum, AnalysisResult* result) {
    if (settings.fftIndex < 0 || settings.fftIndex >= kFftSizeCount) return false;
    if (settings.gainIndex < 0 || settings.gainIndex >= kGainCount) return false;
    if (settings.windowIndex < 0 || settings.windowIndex >= kWindowCount) return false;
    if (samples == nullptr || windowed == nullptr || start < 0) return false;

    const int N = g_nFftSize[settings.fftIndex];
    if (start > nSamples - N) return false;  // the frame does not fit

    const double gain = g_dGain[settings.gainIndex];
    const WindowFunction window = g_pfnWindow[settings.windowIndex];
    const int end = start + N;
    for (int i = start; i < end; ++i) windowed[i] = window(i - start, N) * samples[i] * gain;

    ComputeSpectrum(static_cast<unsigned>(g_nFftExp[settings.fftIndex]), windowed + start,
                    spectrum.db, spectrum.re, spectrum.im);

    const int peak = FindPeakBin(spectrum.db, N);
    if (result != nullptr) {
        // Formatted into local buffers and assigned, so the strings reuse
        // their capacity from one pass to the next.
        char buffer[128];
        result->peakBin = peak;
        FormatPeakTo(buffer, sizeof buffer, spectrum.db[peak], peak, N, sampleRate);
        result->peakText.assign(buffer);
        FormatNoteTo(buffer, sizeof buffer, peak, N, sampleRate);
        result->noteText.assign(buffer);
    }
    return true;
}

}  // namespace vurma
