#include "sample_store.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "settings.h"

namespace vurma {

namespace {

// Bytes per sample for the two supported widths; 0 for anything else.
int BytesPerSample(const PcmView& pcm) {
    if (pcm.bitsPerSample == 8) return 1;
    if (pcm.bitsPerSample == 16) return 2;
    return 0;
}

inline double Pcm16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

}  // namespace

std::uint32_t CompleteFrames(const PcmView& pcm) {
    const int bytes = BytesPerSample(pcm);
    if (bytes == 0 || pcm.channels <= 0 || pcm.data == nullptr) return 0;
    return (pcm.dataLen / static_cast<std::uint32_t>(bytes)) /
           static_cast<std::uint32_t>(pcm.channels);
}

bool ConvertSamples(const PcmView& pcm, std::uint32_t first, std::uint32_t count, double* samples,
                    double* windowed, std::uint32_t index) {
    const std::uint32_t frames = CompleteFrames(pcm);
    if (static_cast<std::uint64_t>(first) + count > frames) return false;
    if (count == 0) return true;
    if (samples == nullptr || windowed == nullptr) return false;

    const int channels = pcm.channels;
    double* out = samples + index;
    double* outWindowed = windowed + index;

    // Every path computes the same expression in the same order: the sum of
    // the per-channel values (x / 127 - 1 or x / 32767), divided by channels.
    if (pcm.bitsPerSample == 8) {
        const std::uint8_t* src = pcm.data + static_cast<std::size_t>(first) * channels;
        for (std::uint32_t i = 0; i < count; ++i) {
            double sum = 0.0;
            for (int c = 0; c < channels; ++c) sum += src[c] / 127.0 - 1;
            const double value = sum / channels;
            out[i] = value;
            outWindowed[i] = value;
            src += channels;
        }
        return true;
    }

    const std::uint8_t* src = pcm.data + static_cast<std::size_t>(first) * channels * 2;
    if (channels == 1) {
        for (std::uint32_t i = 0; i < count; ++i) {
            const double value = Pcm16(src + 2 * i) / 32767.0;
            out[i] = value;
            outWindowed[i] = value;
        }
    } else if (channels == 2) {
        for (std::uint32_t i = 0; i < count; ++i) {
            const double value =
                (Pcm16(src + 4 * i) / 32767.0 + Pcm16(src + 4 * i + 2) / 32767.0) / 2;
            out[i] = value;
            outWindowed[i] = value;
        }
    } else {
        for (std::uint32_t i = 0; i < count; ++i) {
            double sum = 0.0;
            for (int c = 0; c < channels; ++c) sum += Pcm16(src + 2 * c) / 32767.0;
            const double value = sum / channels;
            out[i] = value;
            outWindowed[i] = value;
            src += 2 * channels;
        }
    }
    return true;
}

int FindLoudestSample(const double* samples, int n) {
    if (n < 1 || samples == nullptr) return 0;
    double best = 0.0;
    int result = 0;
    for (int i = 0; i < n; ++i) {
        const double magnitude = std::fabs(samples[i]);
        if (magnitude > best) {
            best = magnitude;
            result = i;
        }
    }
    return result;
}

std::uint32_t FrameAtPosition(int sampleRate, std::int64_t position) {
    if (sampleRate <= 0 || position <= 0) return 0;
    if (position > std::numeric_limits<std::int64_t>::max() / sampleRate)
        return std::numeric_limits<std::uint32_t>::max();
    const double frame = static_cast<double>(sampleRate * position) * 1e-7;
    if (frame >= 4294967295.0) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(frame);
}

FinishDecision DecideFinishCapture(int nSamples, int selectedFftIndex) {
    FinishDecision decision;
    if (nSamples < kMinSamplesToCompute) {
        decision.tooFew = true;
        decision.fftIndex = 0;
        return decision;
    }
    int index = selectedFftIndex;
    if (index < 0) index = 0;
    if (index >= kFftSizeCount) index = kFftSizeCount - 1;
    // One step down at most, even if the smaller size still does not fit.
    if (nSamples < g_nFftSize[index] && index > 0) --index;
    decision.fftIndex = index;
    return decision;
}

}  // namespace vurma
