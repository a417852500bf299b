// Starting another program: the game, or a freshly fetched launcher.
#pragma once

#include "platform/process.h"

namespace update {

// Starts the program named by the first blank-separated token of the command
// line, with the rest as its arguments, in `workingFolder` (null: the current
// folder). Returns the process handle, or 0. Never waits.
platform::ProcessHandle runProgram(const char* commandLine, const char* workingFolder);

}  // namespace update
