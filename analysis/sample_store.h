// Conversion of captured PCM to normalised mono samples, the loudest-sample
// search and the decisions taken when a capture ends.
#pragma once

#include <cstdint>

#include "ui_text.h"

namespace vurma {

// A view of captured PCM: interleaved frames, 8-bit unsigned or 16-, 24- or
// 32-bit signed little-endian samples. dataLen is the number of valid bytes.
struct PcmView {
    const std::uint8_t* data = nullptr;
    std::uint32_t dataLen = 0;
    int channels = 0;
    int bitsPerSample = 0;
};

// Complete frames in the view: (dataLen / bytesPerSample) / channels.
std::uint32_t CompleteFrames(const PcmView& pcm);

// Mixes `count` frames starting at frame `first` into samples[index..] and
// windowed[index..]. Writes nothing and returns false when those frames are
// not all in the view. 8-bit: x / 127 - 1; 16-bit: x / 32767; 24-bit:
// x / 8388607; 32-bit: x / 2147483647; the mono value is the mean of the
// channels. Any span [first, first + count) of the view may be converted.
bool ConvertSamples(const PcmView& pcm, std::uint32_t first, std::uint32_t count, double* samples,
                    double* windowed, std::uint32_t index);

// Index of the largest magnitude among samples[0..n-1]; earliest wins; 0 when n < 1.
int FindLoudestSample(const double* samples, int n);

// The loudest mono sample among the first `frames` frames of `pcm`,
// converted block by block into scratch (blockFrames entries, at least 1):
// the index FindLoudestSample gives over the whole conversion.
std::uint32_t FindLoudestFrame(const PcmView& pcm, std::uint32_t frames, double* scratch,
                               std::uint32_t blockFrames);

// Start of the analysed frame of fftSize samples that Find places at the
// loudest frame of a capture of `frames`: the loudest frame itself, or the last
// start where a frame fits when the loudest lies in the last fftSize - 1
// frames, so that the frame fits and still holds it. `loudest` itself when
// no frame fits at all.
std::uint32_t SearchFrameStart(std::uint32_t loudest, std::uint32_t frames, std::uint32_t fftSize);

// Capture frame at a media position in 100 ns units: trunc(rate * t * 1e-7).
std::uint32_t FrameAtPosition(int sampleRate, std::int64_t position);

inline constexpr int kMinSamplesToCompute = 512;
inline constexpr char kMsgTooFewSamplesToCompute[] =
    UI_TEXT("ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  ");

// What the end of a capture does to the FFT-size selection.
struct FinishDecision {
    bool tooFew = false;  // fewer than 512 samples: message, select index 0, no analysis
    int fftIndex = 0;     // selection afterwards (at most one step down)
};
FinishDecision DecideFinishCapture(int nSamples, int selectedFftIndex);

}  // namespace vurma
