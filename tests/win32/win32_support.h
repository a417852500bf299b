// Helpers of the Windows backend's tests.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace win32test {

// Runs a command line (UTF-8) to its end, bounded in time; its exit code, or -1 when
// it could not start or did not end in time.
int runAndWait(const std::string& commandLine, DWORD limitMilliseconds = 60000);

// The folder of the running test binary, where the probe program lies.
std::filesystem::path binaryFolder();

// A path in UTF-8 with "\" separators only, as a Windows program would
// write it.
std::string backslashed(const std::filesystem::path& path);

}  // namespace win32test
