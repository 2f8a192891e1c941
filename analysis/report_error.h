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

// One report: the message and, optionally, its details (the file concerned
// and the decoder's own reason), which the window shows on request.
struct Report {
    std::string text;
    std::string details;
    // Sinks that only need the message take the report as its text.
    operator const std::string&() const { return text; }
};

// Receives each formatted report. The window installs one that shows a modal
// message box titled "Vurma"; headless modes install none; tests record.
using ReportSink = std::function<void(const Report& report)>;

// The details a report carries below its message.
struct ReportDetails {
    std::string text;
};

// Formats printf-style (integer conversions and %s) with the format in the
// interface language (UiText), writes the text and the details to stderr,
// then hands both to the sink, if any. The process sink is called on the GUI
// thread only; another thread reports only while it has a thread sink.
void ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ReportError(const ReportDetails& details, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Installs a sink and returns the previous one (empty for none).
ReportSink SetReportSink(ReportSink sink);

// Installs a sink for the calling thread only and returns its previous one.
// While set, the thread's reports go to it alone (neither stderr nor the
// process sink): a background load collects its reports so that the GUI
// thread can show them once the load is applied.
ReportSink SetThreadReportSink(ReportSink sink);

// Cuts text to at most maxBytes without splitting a UTF-8 character.
std::string TruncateUtf8(const std::string& text, std::size_t maxBytes);

}  // namespace vurma
