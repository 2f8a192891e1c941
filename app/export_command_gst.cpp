// The command-line export on the program's real media engine.
#include "app/export_command.h"
#include "media/media_session.h"

namespace vurma {

int ExportFileHeadless(const ExportOptions& options, std::string* csvUtf8Out) {
    return ExportFileWithEngine(media::CreateGstEngine(), options, csvUtf8Out);
}

int RunExportCommand(const std::vector<std::string>& args) {
    ExportOptions options;
    if (!ParseExportArgs(args, &options)) return kExitUsage;
    return ExportFileHeadless(options, nullptr);
}

}  // namespace vurma
