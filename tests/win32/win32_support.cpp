#include "win32/win32_support.h"

#include <vector>

#include "platform/win32/wide_text.h"

namespace win32test {

int runAndWait(const std::string& commandLine, DWORD limitMilliseconds) {
  std::wstring line = platform::wideText(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  if (line.empty() ||
      !::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created)) {
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
  std::vector<wchar_t> path(32768);
  DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return std::filesystem::path(std::wstring(path.data(), length)).parent_path();
}

std::string backslashed(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  std::string text(utf8.begin(), utf8.end());
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

}  // namespace win32test
