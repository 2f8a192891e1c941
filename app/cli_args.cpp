#include "cli_args.h"

#include <filesystem>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "analysis/report_error.h"
#include "analysis/settings.h"
#include "analysis/window_functions.h"

namespace vurma {

void UsageError(const char* what, const std::string& value) {
    ReportError("vurma: %s%s (see vurma --help)", what, value.c_str());
}

bool HasOption(const std::vector<std::string>& args, std::string_view option) {
    for (const std::string& a : args) {
        if (a == "--") return false;
        if (a == option || (a.size() > option.size() && a.compare(0, option.size(), option) == 0 &&
                            a[option.size()] == '='))
            return true;
    }
    return false;
}

bool ScanArgs(
    const std::vector<std::string>& args, std::initializer_list<std::string_view> flags,
    std::initializer_list<std::string_view> valued,
    const std::function<bool(const std::string& arg)>& positional,
    const std::function<bool(const std::string& name, const std::string& value)>& option) {
    const auto listed = [](std::initializer_list<std::string_view> names, const std::string& name) {
        for (std::string_view n : names)
            if (n == name) return true;
        return false;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (!positional(arg)) return false;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            inlineValue = true;
        }
        if (listed(flags, arg)) {
            if (inlineValue) {
                UsageError((arg + " takes no value: ").c_str(), value);
                return false;
            }
        } else if (listed(valued, arg)) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) {
                    UsageError("missing value for ", arg);
                    return false;
                }
                value = args[++i];
            }
        } else {
            UsageError("unknown option ", args[i]);
            return false;
        }
        if (!option(arg, value)) return false;
    }
    return true;
}

bool ParseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

int FftIndexArg(const std::string& value) {
    double v = 0;
    if (ParseNumber(value, &v)) {
        for (int i = 0; i < static_cast<int>(std::size(g_nFftSize)); ++i)
            if (g_nFftSize[i] == v) return i;
    }
    UsageError("--fft takes 512, 1024, 2048 or 4096, not ", value);
    return -1;
}

int WindowIndexArg(const std::string& value) {
    // The list's "Humming" is the Hamming window: the right spelling picks it too.
    const std::string name = value == "Hamming" ? "Humming" : value;
    for (int i = 0; i < kOfferedWindowCount; ++i)
        if (name == g_strWindowName[i]) return i;
    UsageError("--window takes Rectangular, Hanning or Humming, not ", value);
    return -1;
}

bool DecideBatchFolder(const std::string& output, std::size_t files, bool* toFolder) {
    std::error_code ec;
    const bool folder = std::filesystem::is_directory(output, ec);
    *toFolder = files > 1 || folder;
    if (*toFolder && !folder) {
        UsageError("several files need an existing folder, not ", output);
        return false;
    }
    return true;
}

std::string BatchOutputs::PathFor(const std::string& folder, const std::string& file,
                                  const char* extension) {
    const std::string path = (std::filesystem::path(folder) /
                              (std::filesystem::path(file).filename().string() + extension))
                                 .string();
    if (!taken_.insert(path).second) {
        ReportError("vurma: %s: another file of this batch is already written as %s", file.c_str(),
                    path.c_str());
        return {};
    }
    return path;
}

}  // namespace vurma
