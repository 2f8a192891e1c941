// Headless modes of the program: run before any window exists.
#pragma once

namespace vurma {

// Handles the command line when it asks for a headless mode (--info,
// --help, ...): does the work, sets *exitCode and returns true. Returns
// false when the arguments ask for the window (none, or a file to open).
bool RunCommandLine(int argc, char** argv, int* exitCode);

}  // namespace vurma
