#include "command_line.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "export_command.h"
#include "media/media_session.h"
#include "report_command.h"
#include "spectrogram_command.h"
#include "spectrum_command.h"
#include "vurma_version.h"

namespace vurma {
namespace {

struct Option {
    const char* name;
    const char* argument;  // shown in the help; null when the option takes none
    const char* help;
    int (*run)(const char* argument);
};

int RunHelp(const char*);

int RunVersion(const char*) {
    std::printf("%s %s\n", VURMA_NAME, VURMA_VERSION_STRING);
    return 0;
}

// Loads the file as the window would, without playing it, and prints the
// recording information. Refusals and diagnostics go to stderr.
int RunInfo(const char* path) {
    std::shared_ptr<media::IEngine> engine = media::CreateGstEngine();
    if (engine == nullptr) return 1;
    media::MediaSession session(engine);
    session.SetUnsynchronised(true);
    if (media::Failed(session.CreateGraph())) return 1;
    media::LoadedMedia loaded;
    if (media::Failed(session.LoadMediaFile(path, &loaded))) return 1;
    std::printf("%s\n", loaded.shownInfoText.c_str());
    return 0;
}

const Option kOptions[] = {
    {"--info", "FILE", "print the recording information of FILE and exit", &RunInfo},
    {"--version", nullptr, "print the program name and version and exit", &RunVersion},
    {"--help", nullptr, "show this help and exit", &RunHelp},
};

int RunHelp(const char*) {
    std::printf(
        "Usage: vurma [FILE]\n       vurma OPTION\n\nWithout an option Vurma opens its "
        "window (and FILE, if given).\n\nOptions:\n");
    for (const Option& option : kOptions) {
        std::string left = option.name;
        if (option.argument != nullptr) left += std::string(" ") + option.argument;
        std::printf("  %-22s %s\n", left.c_str(), option.help);
    }
    std::printf("%s%s%s%s", kExportHelp, kSpectrogramHelp, kSpectrumHelp, kReportHelp);
    return 0;
}

}  // namespace

bool RunCommandLine(int argc, char** argv, int* exitCode) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (IsExportCommand(args)) {
        *exitCode = RunExportCommand(args);
        return true;
    }
    if (IsReportCommand(args)) {
        *exitCode = RunReportCommand(args);
        return true;
    }
    if (IsSpectrogramCommand(args)) {
        *exitCode = RunSpectrogramCommand(argc, argv);
        return true;
    }
    if (IsSpectrumCommand(args)) {
        *exitCode = RunSpectrumCommand(args);
        return true;
    }
    if (argc < 2 || argv[1][0] != '-') return false;
    const char* arg = argv[1];
    if (std::strcmp(arg, "-h") == 0) arg = "--help";
    for (const Option& option : kOptions) {
        if (std::strcmp(arg, option.name) != 0) continue;
        const int needed = option.argument != nullptr ? 3 : 2;
        if (argc != needed) {
            std::fprintf(stderr, "vurma: %s %s\n", option.name,
                         option.argument != nullptr ? "takes one argument" : "takes no argument");
            RunHelp(nullptr);
            *exitCode = 2;
            return true;
        }
        *exitCode = option.run(option.argument != nullptr ? argv[2] : nullptr);
        std::fflush(stdout);
        return true;
    }
    std::fprintf(stderr, "vurma: unknown option %s (see vurma --help)\n", argv[1]);
    *exitCode = 2;
    return true;
}

}  // namespace vurma
