// Processes through CreateProcessW: Windows itself finds the program from the
// first token of the command line, with its own search order. The command
// line and the folder arrive in UTF-8.
#include "platform/process.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/win32/wide_text.h"

namespace platform {

#if !defined(_WIN64)
// The launcher is a 32-bit program; its start-up description is the
// 68-byte structure the system expects there.
static_assert(sizeof(STARTUPINFOW) == 68, "STARTUPINFOW is not the 32-bit layout");
#endif

ProcessHandle createProcess(const char* commandLine, const char* workingFolder) {
  if (commandLine == nullptr) return 0;
  // CreateProcessW may write into the command line, so it gets a copy.
  std::wstring line = wideText(commandLine);
  if (line.empty()) return 0;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  const std::wstring folder = workingFolder != nullptr ? wideText(workingFolder) : std::wstring();
  if (folder.empty() && workingFolder != nullptr && *workingFolder != '\0') return 0;
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &created)) {
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
