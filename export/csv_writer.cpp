#include "export/csv_writer.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "analysis/analysis_pass.h"
#include "analysis/report_error.h"

namespace vurma {
namespace {

void AppendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void AppendFormat(std::string& out, const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int len = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (len > 0) out.append(buffer, std::min<std::size_t>(len, sizeof buffer - 1));
}

// A display text as the file receives it.
std::string Shown(const std::string& text) { return TruncateUtf8(text, kCsvTextMaxBytes); }

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

int ErrnoToCode(int err) {
    return (err == ENOSPC || err == EDQUOT) ? kCsvDiskFull : kCsvCannotWrite;
}

int Fail(int code, const std::string& path) {
    if (code == kCsvCannotCreate) {
        ReportError(kMsgCsvCannotCreate, path.c_str());
    } else if (code == kCsvDiskFull) {
        ReportError(kMsgCsvDiskFull, path.c_str());
    } else {
        ReportError(kMsgCsvCannotWrite, path.c_str());
    }
    return code;
}

// Writes all bytes; 0 or the errno of the failing write.
int WriteAll(int fd, const std::string& bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Creates a new, empty file in `dir` with a name of its own; the process
// umask applies to `mode`. Returns the descriptor or -1 with errno set.
int CreateTempFile(const std::string& dir, mode_t mode, std::string* tempPath) {
    static std::mt19937_64 rng(
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "/.vurma-%d-%016llx.tmp", static_cast<int>(::getpid()),
                      static_cast<unsigned long long>(rng()));
        *tempPath = dir + name;
        const int fd =
            ::open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// A device or a pipe: written in place, as far as it takes the bytes.
int WriteInPlace(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Fail(kCsvCannotCreate, path);
    int err = WriteAll(fd, bytes);
    // Pipes and most devices cannot be synced; that is not a failure.
    if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != EROFS) {
        err = errno;
    }
    if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
    return err == 0 ? kCsvWriteOk : Fail(ErrnoToCode(err), path);
}

}  // namespace

std::string BuildCsvText(const CsvInput& in) {
    std::string out;
    out.reserve(64 * 1024);
    AppendFormat(out, "%s\n", "[ﾌｱｲﾙ録音条件]");
    out += FileNameOf(in.mediaPath);
    out += '\n';
    out += Shown(in.infoText);
    out += "\n\n";
    AppendFormat(out, "%s\n", "[分析条件]");
    out += "開始時間(s), " + Shown(in.startText) + "\n";
    AppendFormat(out, "増幅率, %g\n", in.gain);
    AppendFormat(out, "ｻﾝﾌﾟﾙ数, %d\n", in.fftSize);
    out += "窓関数, " + in.windowName + "\n\n";
    AppendFormat(out, "%s\n", "[分析結果]");
    out += "ﾋﾟｰｸ値, " + Shown(in.peakText) + "\n";
    out += "音階, " + Shown(in.noteText) + "\n";
    AppendFormat(out, "\n%s, %s, %s\n", "周波数(Hz)", "ﾊﾟﾜｰﾚﾍﾞﾙ(dB)", "　音階　");
    if (in.spectrumDb != nullptr && in.fftSize > 0) {
        const int N = in.fftSize;
        for (int i = 1; i <= N / 2; ++i) {
            const double hz = static_cast<double>(in.sampleRate) * i / N;
            AppendFormat(out, "%g, %g, ", hz, in.spectrumDb[i]);
            out += FormatNote(i, N, in.sampleRate);
            out += '\n';
        }
    }
    return out;
}

std::string EncodeCsvBytes(const std::string& utf8Text) {
    // Line ends first: CP932 never uses '\n' or '\r' inside a character.
    std::string text;
    text.reserve(utf8Text.size() + utf8Text.size() / 16);
    for (std::size_t i = 0; i < utf8Text.size(); ++i) {
        const char c = utf8Text[i];
        if (c == '\n' && (i == 0 || utf8Text[i - 1] != '\r')) text += '\r';
        text += c;
    }

    std::string out;
    out.reserve(text.size());
    iconv_t cd = ::iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // No converter: keep ASCII, mark everything else.
        for (std::size_t i = 0; i < text.size();) {
            const auto lead = static_cast<unsigned char>(text[i]);
            out += lead < 0x80 ? static_cast<char>(lead) : '?';
            i += lead < 0x80 ? 1 : SequenceLength(lead);
        }
        return out;
    }
    char* in = text.data();
    std::size_t inLeft = text.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        // EILSEQ (no CP932 form, or invalid UTF-8) or EINVAL (cut sequence at
        // the end): one "?" for the character, then go on after it.
        const std::size_t skip = std::min(inLeft, SequenceLength(static_cast<unsigned char>(*in)));
        out += '?';
        in += skip;
        inLeft -= skip;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    ::iconv_close(cd);
    return out;
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DefaultCsvName(const std::string& mediaPath) {
    const std::string name = FileNameOf(mediaPath);
    if (name.empty()) return name;
    const auto firstNonDot = name.find_first_not_of('.');
    const auto dot = name.find_last_of('.');
    if (firstNonDot == std::string::npos || dot == std::string::npos || dot < firstNonDot) {
        return name + ".csv";
    }
    return name.substr(0, dot) + ".csv";
}

int WriteCsvFile(const std::string& path, const std::string& utf8Text) {
    return WriteFileWhole(path, EncodeCsvBytes(utf8Text));
}

int WriteFileWhole(const std::string& path, const std::string& bytes) {
    if (path.empty()) return Fail(kCsvCannotCreate, path);

    // Replace the file a symbolic link points to, not the link itself.
    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }

    mode_t mode = 0666;  // less the umask, as for any new file
    bool replacing = false;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        replacing = true;
        if (!S_ISREG(st.st_mode)) return WriteInPlace(target, bytes);
        // Renaming would replace a file the user may not write to.
        if (::access(target.c_str(), W_OK) != 0) return Fail(kCsvCannotWrite, path);
        mode = st.st_mode & 07777;
    }

    const std::string dir = DirectoryOf(target);
    std::string temp;
    const int fd = CreateTempFile(dir, mode, &temp);
    if (fd < 0) return Fail(kCsvCannotCreate, path);
    if (replacing) ::fchmod(fd, mode);  // keep the replaced file's permissions

    int err = WriteAll(fd, bytes);
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
    if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return Fail(ErrnoToCode(err), path);
    }

    // Make the new directory entry durable as well; a failure here loses nothing.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return kCsvWriteOk;
}

}  // namespace vurma
