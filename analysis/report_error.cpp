#include "report_error.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

#include "ui_text.h"

namespace vurma {
namespace {
thread_local ReportCapture* t_capture = nullptr;

ReportSink& Sink() {
    static ReportSink sink;
    return sink;
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
    char buffer[4096];
    va_list args;
    // The format is translated whole, before formatting, so that every
    // language orders its own sentence.
    const std::string shown = UiText(format);
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, shown.c_str(), args);
    va_end(args);
    const std::string text = TruncateUtf8(buffer, kReportMaxBytes);
    if (t_capture != nullptr) {
        std::string trimmed = text.substr(0, text.find_last_not_of(" \n") + 1);
        if (!t_capture->text_.empty() && !trimmed.empty()) t_capture->text_ += ' ';
        t_capture->text_ += trimmed;
        return;
    }
    std::fputs(text.c_str(), stderr);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
    std::fflush(stderr);
    if (Sink()) Sink()(text);
}

ReportCapture::ReportCapture() : outer_(t_capture) { t_capture = this; }

ReportCapture::~ReportCapture() { t_capture = outer_; }

std::string ReportCapture::Text() const { return text_; }

ReportSink SetReportSink(ReportSink sink) { return std::exchange(Sink(), std::move(sink)); }

}  // namespace vurma
