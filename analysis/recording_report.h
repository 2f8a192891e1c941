// The recording report: levels, loudness, clipping, DC offset, channel
// correlation, silence at the ends, effective bits and a long-term spectrum
// that gives the bandwidth and a lossy-source suspicion. Toolkit-free.
//
// A ReportAccumulator is fed interleaved integer PCM chunk by chunk, in
// order (a finished capture or a streaming decode), then finished once.
// Feed and Finish run on one thread at a time (any thread but the GUI
// thread: large chunks are spread over the shared worker pool).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/ui_text.h"

namespace vurma {

// Interleaved PCM as the capture holds it: 8-bit unsigned, 16-, 24- (packed,
// 3 bytes) or 32-bit signed, little-endian.
struct PcmLayout {
    int channels = 0;
    int bitsPerSample = 0;
    int sampleRate = 0;  // Hz
};

// The stream as the file stores it, before any conversion (read from the
// container and the decoder, not from the capture).
struct StoredFormat {
    std::string codec;      // "PCM", "FLAC", "MPEG-1 Layer 3", ...; empty: unknown
    bool lossless = false;  // PCM and lossless codecs
    std::string
        sampleFormat;  // "u8" "s16" "s24" "s32" "f32" "f64" "mulaw" "alaw"; empty: lossy/unknown
    int bits = 0;      // stored width; 0: lossy/unknown
};

inline constexpr int kMaxFirstClips = 5;
inline constexpr double kSilenceDbfs = -60.0;
inline constexpr int kClipRunLength = 3;

// One file's report. Levels in dB are -infinity for digital silence (null in
// JSON); an absent optional is a quantity that cannot be measured, with the
// reason in `notes`.
struct RecordingReport {
    std::string file;
    double durationS = 0.0;
    int sampleRate = 0;
    int channels = 0;
    int captureBits = 0;  // width of the PCM the numbers were measured on
    StoredFormat stored;
    std::optional<int> effectiveBits;  // integer PCM only

    std::optional<double> integratedLufs;
    std::optional<double> loudnessRangeLu;
    std::optional<double> maxMomentaryLufs;
    std::optional<double> maxShortTermLufs;

    // One entry per channel, in channel order.
    std::vector<double> truePeakDbtp;
    std::vector<double> samplePeakDbfs;
    std::vector<double> rmsDbfs;  // a full-scale sine reads 0 dB
    std::vector<std::uint64_t> clippedSamples;
    std::vector<double> dcOffset;  // fraction of full scale

    std::vector<double> firstClipsS;    // up to kMaxFirstClips run starts, over all channels
    std::optional<double> correlation;  // stereo only
    std::optional<double> silenceStartS;
    std::optional<double> silenceEndS;
    std::optional<double> bandwidthHz;
    std::optional<bool> lossySuspect;

    // Why a quantity is absent (Japanese source texts, UI_TEXT).
    std::vector<const char*> notes;
};

class ReportAccumulator {
  public:
    // layout: 1..64 channels, 8/16/24/32 bits, a rate of 10 Hz or more. Check
    // ok() before feeding: false for an unusable layout or when libebur128
    // could not be set up.
    explicit ReportAccumulator(const PcmLayout& layout);
    ~ReportAccumulator();
    ReportAccumulator(const ReportAccumulator&) = delete;
    ReportAccumulator& operator=(const ReportAccumulator&) = delete;

    bool ok() const;
    // Appends bytes of interleaved PCM; a partial frame is kept for the
    // next call.
    void Feed(const std::uint8_t* data, std::size_t bytes);
    // Whole frames fed so far.
    std::uint64_t frames() const;
    // Ends the stream and computes the report (file and stored format are
    // the caller's to fill). Call once.
    RecordingReport Finish();

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// The report of PCM held whole in memory (a finished capture). When
// `cancel` becomes true the measuring stops early; the result is then
// incomplete and meant to be dropped.
RecordingReport MeasurePcm(const std::uint8_t* data, std::size_t bytes, const PcmLayout& layout,
                           const std::atomic<bool>* cancel = nullptr);

// Sets the stored format; effective bits are kept only for integer PCM
// (a lossy, float or companded stream was converted before it was measured).
void ApplyStoredFormat(RecordingReport* report, const StoredFormat& stored);

// The long-term spectrum's verdict, from band levels in dBFS (bands of
// equal width from 0 Hz to Nyquist; -infinity for an empty band). Exposed
// for tests of the rule itself.
struct BandwidthVerdict {
    std::optional<double> bandwidthHz;
    std::optional<bool> lossySuspect;
};
BandwidthVerdict JudgeBandwidth(const std::vector<double>& bandDb, double nyquistHz);

// Formats a report as one line of JSON (no newline); keys as documented in
// the README; non-finite numbers and absent values are null.
std::string ReportJson(const RecordingReport& report);

// A failure as one line of JSON: {"file": ..., "error": ...}.
std::string ReportErrorJson(const std::string& file, const std::string& error);

// The readable form: one (label, value) row per quantity, labels through
// `text` (the window and the table use the same rows).
std::vector<std::pair<std::string, std::string>> ReportRows(const RecordingReport& report,
                                                            TextMap text = UiText);

// Rows laid out as a table: labels padded to one width, a blank line after.
std::string ReportTable(const RecordingReport& report, TextMap text = UiText);

// A failure in the table's form: the file and the reason.
std::string ReportErrorTable(const std::string& file, const std::string& error,
                             TextMap text = UiText);

// JSON string literal of UTF-8 text (with the quotes).
std::string JsonString(const std::string& text);

}  // namespace vurma
