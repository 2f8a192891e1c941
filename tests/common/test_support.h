// Set-up the suites share: a recording report sink, a scratch folder and
// small file and text helpers.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/report_error.h"

namespace vurma::test {

// Records every ReportError text while it lives, so nothing reaches a message box.
class ReportRecorder {
  public:
    ReportRecorder() {
        previous_ = SetReportSink([this](const Report& report) {
            texts.push_back(report.text);
            details.push_back(report.details);
        });
    }
    ~ReportRecorder() { SetReportSink(previous_); }
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;
    std::vector<std::string> texts;
    std::vector<std::string> details;  // one per text, empty when none

  private:
    ReportSink previous_;
};

// A fresh folder under $VURMA_TEST_TMP, removed with everything in it.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& prefix = "scratch") {
        const char* base = std::getenv("VURMA_TEST_TMP");
        const std::filesystem::path root = base != nullptr ? base : "/tmp";
        std::filesystem::create_directories(root);
        std::string pattern = (root / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();  // nowhere safe to write
        path = pattern;
    }
    ~ScratchDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(path, ec))
            if (e.is_directory(ec))
                fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// The shell command that runs the built program `exe` in `locale` (Japanese:
// the program's own texts), without the user's settings, whatever the
// machine's language.
inline std::string ProgramCommand(const std::string& exe,
                                  const std::string& locale = "ja_JP.UTF-8") {
    return "env LANG=" + locale + " LC_ALL= LC_MESSAGES= LANGUAGE= XDG_CONFIG_HOME=/nonexistent '" +
           exe + "'";
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

// What a run of the built program left: its exit code and both streams.
struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::vector<std::string> lines() const { return Lines(out); }
};

// Runs the built program `exe` with `args` (shell words) in `locale`; the
// streams pass through files in `dir`.
inline RunResult RunProgram(const std::string& exe, const std::string& args,
                            const std::string& locale, const std::string& dir) {
    const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
    const int status = std::system(
        (ProgramCommand(exe, locale) + " " + args + " >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

}  // namespace vurma::test
