#include "win32/win32_support.h"

#include <vector>

namespace win32test {

int runAndWait(const std::string& commandLine, DWORD limitMilliseconds) {
  std::string line = commandLine;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created)) {
    return -1;
  }
  ::CloseHandle(created.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (::WaitForSingleObject(created.hProcess, limitMilliseconds) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(created.hProcess, &code)) {
    ::TerminateProcess(created.hProcess, 1);
    code = static_cast<DWORD>(-1);
  }
  ::CloseHandle(created.hProcess);
  return static_cast<int>(code);
}

std::filesystem::path binaryFolder() {
  std::vector<char> path(32768);
  DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return std::filesystem::path(std::string(path.data(), length)).parent_path();
}

std::string backslashed(const std::filesystem::path& path) {
  std::string text = path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

}  // namespace win32test
