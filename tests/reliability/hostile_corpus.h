// Odd and hostile media files, written at test time into a temporary folder:
// WAV files field by field (with lying headers, truncations and unusual
// formats) and compressed or video files through gst-launch-1.0.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace vurma::reliability {

inline constexpr char kMsgCannotProcess[] = "このﾌｧｲﾙは処理できません。  ";
inline constexpr char kMsgNoSound[] = "このﾌｧｲﾙには音声が含まれていません。  ";
inline constexpr char kMsgNoMemory[] = "ﾒﾓﾘｰが不足しています。  ";
inline constexpr char kMsgTooFew[] = "ﾃﾞｰﾀのｻﾝﾌﾟﾙ数が極端に少ないので計算できません。  ";

// A temporary folder removed with everything in it when the object goes.
class TempDir {
  public:
    explicit TempDir(const std::string& tag) {
        const char* base = std::getenv("VURMA_TEST_TMP");
        std::filesystem::path root = base != nullptr && *base != '\0'
                                         ? std::filesystem::path(base)
                                         : std::filesystem::temp_directory_path();
        std::filesystem::create_directories(root);
        std::string pattern = (root / (tag + "_XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        if (path_.empty()) return;
        std::error_code ec;
        // Give back any permission a test took away, so that removal works.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ec)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The layout of one PCM WAV file. Header fields that are normally derived
// can be overridden to lie about the data.
struct WavSpec {
    int channels = 2;
    int rate = 44100;
    int bits = 16;
    std::uint32_t frames = 4410;
    double toneHz = 1000.0;
    std::int64_t claimedDataBytes = -1;  // data chunk size in the header; -1: the real size
    std::int64_t keepBytes = -1;         // cut the file after this many bytes; -1: keep all
    std::int64_t claimedByteRate = -1;   // byte rate in the header; -1: the real one
};

inline void PutLe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The bytes of a WAV file holding a sine tone at a third of full scale.
inline std::string WavBytes(const WavSpec& s) {
    const int bytesPerSample = s.bits / 8;
    const std::uint64_t dataBytes =
        static_cast<std::uint64_t>(s.frames) * s.channels * bytesPerSample;
    std::string out;
    out.reserve(44 + dataBytes);
    const std::uint64_t claimed =
        s.claimedDataBytes >= 0 ? static_cast<std::uint64_t>(s.claimedDataBytes) : dataBytes;
    out += "RIFF";
    PutLe(out, claimed >= 0xFFFFFFFFull - 36 ? 0xFFFFFFFFull : 36 + claimed, 4);
    out += "WAVEfmt ";
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);  // integer PCM
    PutLe(out, s.channels, 2);
    PutLe(out, s.rate, 4);
    const std::uint64_t byteRate =
        s.claimedByteRate >= 0 ? static_cast<std::uint64_t>(s.claimedByteRate)
                               : static_cast<std::uint64_t>(s.rate) * s.channels * bytesPerSample;
    PutLe(out, byteRate, 4);
    PutLe(out, s.channels * bytesPerSample, 2);
    PutLe(out, s.bits, 2);
    out += "data";
    PutLe(out, claimed, 4);
    for (std::uint32_t f = 0; f < s.frames; ++f) {
        const double v = std::sin(2 * M_PI * s.toneHz * f / s.rate) / 3;
        for (int c = 0; c < s.channels; ++c) {
            if (s.bits == 8) {
                PutLe(out, static_cast<std::uint8_t>(std::lround(128 + 127 * v)), 1);
            } else {
                PutLe(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(32767 * v)), 2);
            }
        }
    }
    if (s.keepBytes >= 0 && static_cast<std::uint64_t>(s.keepBytes) < out.size()) {
        out.resize(static_cast<std::size_t>(s.keepBytes));
    }
    return out;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

inline bool WriteWav(const std::string& path, const WavSpec& spec) {
    return WriteBytes(path, WavBytes(spec));
}

// `count` bytes from a fixed seed, so that every run sees the same file.
inline std::string RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(count, '\0');
    for (char& c : out) c = static_cast<char>(rng() & 0xFF);
    return out;
}

// Quotes a text for the shell.
inline std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Runs a gst-launch-1.0 pipeline whose last element writes `path`.
inline bool GstLaunch(const std::string& pipeline, const std::string& path) {
    const std::string cmd = "gst-launch-1.0 -q " + pipeline +
                            " ! filesink location=" + ShellQuote(path) + " >/dev/null 2>&1";
    std::error_code ec;
    return std::system(cmd.c_str()) == 0 && std::filesystem::file_size(path, ec) > 0 && !ec;
}

// A short MP3 of a tone (about `seconds` long), with or without the header
// frame that states its length.
inline bool WriteMp3(const std::string& path, double seconds, bool lengthHeader = true) {
    const int buffers = static_cast<int>(std::lround(seconds * 44100 / 1024));
    return GstLaunch("audiotestsrc num-buffers=" + std::to_string(buffers) +
                         " samplesperbuffer=1024 freq=880 ! audio/x-raw,rate=44100,channels=2 ! "
                         "audioconvert ! lamemp3enc" +
                         std::string(lengthHeader ? " ! xingmux" : ""),
                     path);
}

// A short video with no sound track.
inline bool WriteSilentVideo(const std::string& path) {
    return GstLaunch(
        "videotestsrc num-buffers=10 ! video/x-raw,width=160,height=120,framerate=25/1 ! "
        "jpegenc ! avimux",
        path);
}

// A short video with a sound track.
inline bool WriteVideoWithSound(const std::string& path) {
    return GstLaunch(
        "videotestsrc num-buffers=10 ! video/x-raw,width=160,height=120,framerate=25/1 ! "
        "jpegenc ! mux. audiotestsrc num-buffers=18 samplesperbuffer=1000 freq=660 ! "
        "audio/x-raw,format=S16LE,rate=44100,channels=2 ! mux. avimux name=mux",
        path);
}

// Overwrites the second half of a file with random bytes.
inline bool BreakSecondHalf(const std::string& path, unsigned seed) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    if (!f) return false;
    f.seekg(0, std::ios::end);
    const auto size = static_cast<std::size_t>(f.tellg());
    const std::string noise = RandomBytes(size - size / 2, seed);
    f.seekp(static_cast<std::streamoff>(size / 2));
    f.write(noise.data(), static_cast<std::streamsize>(noise.size()));
    return static_cast<bool>(f);
}

// Resident set in bytes, from /proc/self/statm.
inline std::uint64_t ResidentBytes() {
    std::ifstream f("/proc/self/statm");
    std::uint64_t size = 0, resident = 0;
    f >> size >> resident;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

}  // namespace vurma::reliability
