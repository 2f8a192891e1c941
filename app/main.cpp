#include <cstdio>

#include "command_line.h"

int main(int argc, char** argv) {
    int exitCode = 0;
    if (vurma::RunCommandLine(argc, argv, &exitCode)) return exitCode;
    std::fprintf(stderr, "vurma: the window is not part of this build\n");
    return 1;
}
