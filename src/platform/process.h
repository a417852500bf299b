// Processes, shaped after CreateProcessW and the C runtime's exit.
#pragma once

#include <cstdint>

namespace platform {

using ProcessHandle = std::intptr_t;

// CreateProcessW(nullptr, commandLine, ..., workingFolder, &startupInfo, ...)
// with both texts in UTF-8, a zeroed STARTUPINFOW, no handle inheritance and creation flags 0.
// The program is the first blank-separated token of the command line, looked
// for as Windows does: the launcher's own folder, the current folder, then
// PATH (a name with an extension, ".tmp" included, is used unchanged). Returns
// the new process's id, or 0 when no process was created; no handle is kept.
// Never waits.
ProcessHandle createProcess(const char* commandLine, const char* workingFolder);

// The C runtime's normal exit: ends the process with the code.
[[noreturn]] void exitProcess(int code);

}  // namespace platform
