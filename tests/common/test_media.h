// Short media written at test time: PCM samples and WAV files around them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace vurma::test {

// Interleaved samples; channel c carries a sine of hz * (c + 1) with the
// given peak, in sample units.
inline std::vector<std::int32_t> Sine(int channels, int rate, int frames, double hz, double peak) {
    std::vector<std::int32_t> samples;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples.push_back(static_cast<std::int32_t>(
                std::lround(peak * std::sin(2 * std::numbers::pi * hz * (c + 1) * i / rate))));
    return samples;
}

// Little-endian PCM bytes; 8-bit samples are stored unsigned, offset by 128.
inline std::vector<std::uint8_t> Pcm(int bits, const std::vector<std::int32_t>& samples) {
    std::vector<std::uint8_t> bytes;
    for (std::int32_t s : samples) {
        if (bits == 8) s += 128;
        for (int b = 0; b < bits / 8; ++b) bytes.push_back(static_cast<std::uint8_t>(s >> (8 * b)));
    }
    return bytes;
}

// A 44-byte PCM WAV header whose data size and byte rate may lie about the
// data that follows (0 for the byte rate: the true one).
inline std::vector<std::uint8_t> WavHeader(int channels, int bits, int rate,
                                           std::uint32_t dataBytes, std::uint32_t byteRate = 0) {
    const int block = channels * bits / 8;
    std::vector<std::uint8_t> header;
    auto put = [&](std::uint64_t v, int bytes) {
        for (int b = 0; b < bytes; ++b) header.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    };
    auto tag = [&](const char* t) {
        for (int i = 0; i < 4; ++i) header.push_back(static_cast<std::uint8_t>(t[i]));
    };
    tag("RIFF");
    put(std::min<std::uint64_t>(36ull + dataBytes, 0xFFFFFFFFull), 4);
    tag("WAVE");
    tag("fmt ");
    put(16, 4);
    put(1, 2);  // PCM
    put(channels, 2);
    put(rate, 4);
    put(byteRate != 0 ? byteRate : static_cast<std::uint32_t>(rate * block), 4);
    put(block, 2);
    put(bits, 2);
    tag("data");
    put(dataBytes, 4);
    return header;
}

// A PCM WAV file; returns its data chunk.
inline std::vector<std::uint8_t> WriteWav(const std::string& path, int channels, int bits, int rate,
                                          const std::vector<std::int32_t>& samples) {
    const std::vector<std::uint8_t> data = Pcm(bits, samples);
    const std::vector<std::uint8_t> header =
        WavHeader(channels, bits, rate, static_cast<std::uint32_t>(data.size()));
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(header.data()),
            static_cast<std::streamsize>(header.size()));
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return data;
}

// Writes a file with a gst-launch-1.0 pipeline; false when it fails.
inline bool GstLaunch(const std::string& pipeline) {
    return std::system(("gst-launch-1.0 -q " + pipeline + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace vurma::test
