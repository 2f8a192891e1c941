// The CSV file of Save As (and of the command-line export): the recording
// information, the analysis conditions, the readouts and the spectrum, as
// CP932 text with CR LF line ends. Building the text, naming the file and
// writing it are separate so the window and the command line share them.
//
// All functions run on the GUI thread (or the headless main thread).
#pragma once

#include <cstddef>
#include <string>

#include "analysis/ui_text.h"

namespace vurma {

// Longest display text copied into the file, in bytes of UTF-8. Longer text
// is cut at a character boundary at or below this length (the readouts and
// the information text never come near it).
inline constexpr std::size_t kCsvTextMaxBytes = 259;

// Exactly what the file shows, taken from the window (or the headless state)
// at the moment of the export. Texts are UTF-8 with '\n' line breaks.
struct CsvInput {
    std::string mediaPath;   // full path of the media file; the file shows its name only
    std::string infoText;    // recording information as displayed (three lines)
    std::string startText;   // start-time label, "%7.3f" seconds
    double gain = 1.0;       // selected gain factor
    int fftSize = 2048;      // selected FFT size N
    std::string windowName;  // selected window's name ("Humming" ...)
    std::string peakText;    // peak readout as displayed
    std::string noteText;    // note readout as displayed
    int sampleRate = 0;      // Hz
    // dB spectrum, slots 0..fftSize/2 (slot 0 is not written). No rows are
    // written when null.
    const double* spectrumDb = nullptr;
};

// The whole file as UTF-8 text with '\n' line ends.
std::string BuildCsvText(const CsvInput& input);

// The file's bytes: UTF-8 converted to CP932, a character CP932 cannot hold
// (or an invalid UTF-8 sequence) written as "?", every line end as CR LF
// ("\n" and "\r\n" alike).
std::string EncodeCsvBytes(const std::string& utf8Text);

// Last component of a path ('/' separated); empty when the path ends in '/'.
std::string FileNameOf(const std::string& path);

// Proposed name of the CSV file for a media file: its last path component
// with the extension replaced by ".csv", or ".csv" appended when it has none.
// Leading dots belong to the name (".hidden" gives ".hidden.csv"). Empty
// when the path has no file name.
std::string DefaultCsvName(const std::string& mediaPath);

// Results of WriteCsvFile.
inline constexpr int kCsvWriteOk = 0;
inline constexpr int kCsvCannotCreate = -1;  // folder missing or read-only, target not writable
inline constexpr int kCsvCannotWrite = -2;   // write, flush or replace failed
inline constexpr int kCsvDiskFull = -3;      // no space left (or quota exceeded)

inline constexpr char kMsgCsvCannotCreate[] = UI_TEXT("ﾌｧｲﾙを作成できません。  \n%s");
inline constexpr char kMsgCsvCannotWrite[] = UI_TEXT("ﾌｧｲﾙに書き込めません。  \n%s");
inline constexpr char kMsgCsvDiskFull[] = UI_TEXT("ﾃﾞｨｽｸの空き容量が不足しています。  \n%s");

// Encodes utf8Text (EncodeCsvBytes) and writes it to `path` completely or
// not at all: a regular file is written to a temporary file in the same
// folder, flushed to disk and renamed over the target, so a failure leaves
// the old file as it was and no partial file behind. A target that exists
// and is not a regular file (a device, a pipe such as /dev/stdout) cannot be
// replaced and is written directly, every write checked. A symbolic link is
// followed: the file it points to is replaced. Returns kCsvWriteOk or a
// negative kCsv* code after reporting the matching message (with the path)
// through ReportError.
int WriteCsvFile(const std::string& path, const std::string& utf8Text);

// The same for bytes written as they are (no encoding, no line-end change).
int WriteFileWhole(const std::string& path, const std::string& bytes);

}  // namespace vurma
