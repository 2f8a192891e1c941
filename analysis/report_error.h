// The one reporting routine of the program: every developer diagnostic and
// every user message goes through ReportError.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vurma {

// Longest text ReportError shows, in bytes of UTF-8; longer text is cut at a
// character boundary at or below this length.
inline constexpr std::size_t kReportMaxBytes = 515;

// Receives each formatted report. The window installs one that shows a modal
// message box titled "Vurma"; headless modes install none; tests record.
using ReportSink = std::function<void(const std::string& text)>;

// Formats printf-style (integer conversions and %s) with the format in the
// interface language (UiText), writes the text to stderr, then hands it to the sink, if any. Called
// on the GUI thread only, or on any thread inside a ReportCapture.
void ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While one lives, ReportError on its thread collects the texts here instead
// of writing them to stderr and the sink: a headless batch, whose files are
// decoded on several threads, names the file with its failure. Captures nest.
class ReportCapture {
  public:
    ReportCapture();
    ~ReportCapture();
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;
    // The texts reported so far, joined by a space, trailing blanks trimmed.
    std::string Text() const;

  private:
    std::string text_;
    ReportCapture* outer_;
    friend void ReportError(const char* format, ...);
};

// Installs a sink and returns the previous one (empty for none).
ReportSink SetReportSink(ReportSink sink);

// Cuts text to at most maxBytes without splitting a UTF-8 character.
std::string TruncateUtf8(const std::string& text, std::size_t maxBytes);

}  // namespace vurma
