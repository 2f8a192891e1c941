#include "report_error.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

#include "ui_text.h"

namespace vurma {
namespace {
ReportSink& Sink() {
    static ReportSink sink;
    return sink;
}

ReportSink& ThreadSink() {
    thread_local ReportSink sink;
    return sink;
}

void Deliver(const char* format, va_list args, std::string details) {
    char buffer[4096];
    // The format is translated whole, before formatting, so that every
    // language orders its own sentence.
    const std::string shown = UiText(format);
    std::vsnprintf(buffer, sizeof buffer, shown.c_str(), args);
    const Report report{TruncateUtf8(buffer, kReportMaxBytes), std::move(details)};
    if (ThreadSink()) {
        ThreadSink()(report);
        return;
    }
    std::fputs(report.text.c_str(), stderr);
    if (report.text.empty() || report.text.back() != '\n') std::fputc('\n', stderr);
    if (!report.details.empty()) {
        std::fputs(report.details.c_str(), stderr);
        if (report.details.back() != '\n') std::fputc('\n', stderr);
    }
    std::fflush(stderr);
    if (Sink()) Sink()(report);
}
}  // namespace

std::string TruncateUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t end = maxBytes;
    // Step back over continuation bytes so the cut lands on a character start.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

void ReportError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Deliver(format, args, {});
    va_end(args);
}

void ReportError(const ReportDetails& details, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Deliver(format, args, details.text);
    va_end(args);
}

ReportSink SetReportSink(ReportSink sink) { return std::exchange(Sink(), std::move(sink)); }

ReportSink SetThreadReportSink(ReportSink sink) {
    return std::exchange(ThreadSink(), std::move(sink));
}

}  // namespace vurma
