// The launcher's process entry, called by the platform's main function.
#pragma once

#include <string>

namespace shell {

// Runs the launcher with the process's command line (the text after the
// program name). Returns the exit code, which is always 0.
int launcherMain(const std::u16string& commandLine);

}  // namespace shell
