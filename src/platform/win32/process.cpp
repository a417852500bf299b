// Processes through CreateProcessA: Windows itself finds the program from the
// first token of the command line, with its own search order.
#include "platform/process.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace platform {

#if !defined(_WIN64)
// The launcher is a 32-bit program; its start-up description is the
// 68-byte structure the system expects there.
static_assert(sizeof(STARTUPINFOA) == 68, "STARTUPINFOA is not the 32-bit layout");
#endif

ProcessHandle createProcess(const char* commandLine, const char* workingFolder) {
  if (commandLine == nullptr) return 0;
  // CreateProcessA may write into the command line, so it gets a copy.
  std::string line = commandLine;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  const char* folder = workingFolder != nullptr && *workingFolder != '\0' ? workingFolder : nullptr;
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &created)) {
    return 0;
  }
  // Nobody waits for the child: both handles go at once, and the id says
  // that it started.
  ::CloseHandle(created.hThread);
  ::CloseHandle(created.hProcess);
  return static_cast<ProcessHandle>(created.dwProcessId);
}

void exitProcess(int code) { std::exit(code); }

}  // namespace platform
