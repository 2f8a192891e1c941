// Odd and hostile media files, written at test time: WAV files with lying
// headers, truncations and unusual formats, and compressed or video files
// through gst-launch-1.0.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "test_media.h"
#include "test_support.h"

namespace vurma::reliability {

inline constexpr char kMsgCannotProcess[] = "このﾌｧｲﾙは処理できません。  ";
inline constexpr char kMsgNoSound[] = "このﾌｧｲﾙには音声が含まれていません。  ";
inline constexpr char kMsgTooFew[] = "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  ";
inline constexpr char kMsgTooFewToChoose[] = "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が少ないので選択できません。  ";

// One PCM WAV file of a tone at a third of full scale; the header may lie.
struct WavFormat {
    int channels = 2;
    int rate = 44100;
    int bits = 16;
    int frames = 4410;
    std::int64_t claimedDataBytes = -1;  // data size in the header; -1: the real size
    std::int64_t keepBytes = -1;         // cut the file after this many bytes; -1: keep all
    std::uint32_t claimedByteRate = 0;   // byte rate in the header; 0: the real one
};

inline std::string WavBytes(const WavFormat& wav) {
    const double peak = wav.bits == 8 ? 127.0 / 3 : 32767.0 / 3;
    const std::vector<std::uint8_t> data =
        test::Pcm(wav.bits, test::Sine(wav.channels, wav.rate, wav.frames, 1000.0, peak));
    const auto claimed = static_cast<std::uint32_t>(
        wav.claimedDataBytes >= 0 ? wav.claimedDataBytes : static_cast<std::int64_t>(data.size()));
    const std::vector<std::uint8_t> header =
        test::WavHeader(wav.channels, wav.bits, wav.rate, claimed, wav.claimedByteRate);
    std::string out(header.begin(), header.end());
    out.append(data.begin(), data.end());
    if (wav.keepBytes >= 0)
        out.resize(std::min(out.size(), static_cast<std::size_t>(wav.keepBytes)));
    return out;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

inline bool WriteWav(const std::string& path, const WavFormat& wav) {
    return WriteBytes(path, WavBytes(wav));
}

// `count` bytes from a fixed seed, so that every run sees the same file.
inline std::string RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(count, '\0');
    for (char& c : out) c = static_cast<char>(rng() & 0xFF);
    return out;
}

inline std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a gst-launch-1.0 pipeline whose output goes to `path`.
inline bool GstWrite(const std::string& pipeline, const std::string& path) {
    std::error_code ec;
    return test::GstLaunch(pipeline + " ! filesink location=" + ShellQuote(path)) &&
           std::filesystem::file_size(path, ec) > 0 && !ec;
}

// About a second of a tone as MP3, with or without the frame that states its length.
inline bool WriteMp3(const std::string& path, bool lengthHeader = true) {
    return GstWrite(
        "audiotestsrc num-buffers=43 samplesperbuffer=1024 freq=880 ! "
        "audio/x-raw,rate=44100,channels=2 ! audioconvert ! lamemp3enc" +
            std::string(lengthHeader ? " ! xingmux" : ""),
        path);
}

// A short video, with a sound track or without one.
inline bool WriteVideo(const std::string& path, bool withSound) {
    const std::string video =
        "videotestsrc num-buffers=10 ! video/x-raw,width=160,height=120,framerate=25/1 ! jpegenc";
    return GstWrite(withSound ? video +
                                    " ! mux. audiotestsrc num-buffers=18 samplesperbuffer=1000 "
                                    "freq=660 ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! "
                                    "mux. avimux name=mux"
                              : video + " ! avimux",
                    path);
}

// Overwrites the second half of a file with random bytes.
inline bool BreakSecondHalf(const std::string& path, unsigned seed) {
    std::string bytes = test::ReadFile(path);
    const std::size_t half = bytes.size() / 2;
    bytes.replace(half, std::string::npos, RandomBytes(bytes.size() - half, seed));
    return !bytes.empty() && WriteBytes(path, bytes);
}

// Resident set in bytes, from /proc/self/statm.
inline std::uint64_t ResidentBytes() {
    std::ifstream f("/proc/self/statm");
    std::uint64_t size = 0, resident = 0;
    f >> size >> resident;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

}  // namespace vurma::reliability
