// Reading the headless modes' arguments: "--name value" or "--name=value",
// flags without a value, "--" ending the options, and the option values the
// modes share. Mistakes are reported as usage errors.
#pragma once

#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vurma {

// "vurma: <what><value> (see vurma --help)" through ReportError.
void UsageError(const char* what, const std::string& value);

// True when `args` name `option` (alone or as "option=...") before any "--".
bool HasOption(const std::vector<std::string>& args, std::string_view option);

// Walks the arguments: every non-option goes to `positional`, every known
// option to `option` with its value (empty for a flag). Reports an unknown
// option, a flag given a value and a missing value, and returns false on
// them or when a callback returns false.
bool ScanArgs(const std::vector<std::string>& args, std::initializer_list<std::string_view> flags,
              std::initializer_list<std::string_view> valued,
              const std::function<bool(const std::string& arg)>& positional,
              const std::function<bool(const std::string& name, const std::string& value)>& option);

// A finite decimal number filling the whole text.
bool ParseNumber(const std::string& text, double* value);

// Index into the FFT-size table, or -1 (reported).
int FftIndexArg(const std::string& value);

// Index of the offered window named `value` ("Hamming" picks the list's
// "Humming"), or -1 (reported).
int WindowIndexArg(const std::string& value);

// Whether OUT is a folder for the batch: it is when several files are given
// or OUT is an existing folder; several files need one (reported, false).
bool DecideBatchFolder(const std::string& output, std::size_t files, bool* toFolder);

// The result paths of one batch: FOLDER/<file name><extension>. Two files of
// the same name from different folders would share one result, so the later
// one gets an empty path (reported) rather than overwrite the first.
class BatchOutputs {
  public:
    std::string PathFor(const std::string& folder, const std::string& file, const char* extension);

  private:
    std::set<std::string> taken_;
};

}  // namespace vurma
