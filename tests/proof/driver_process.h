// The update driver the proof tests start, and the program they hand it as a
// new launcher.
//
// By default the Linux build (UPDATE_DRIVER_PATH). When GLIMMERHOLD_WINE_DRIVER
// names the 32-bit Windows build of the same driver (update_driver.exe: the
// run over the Win32 sockets, files, threads, process start, registry and
// CNG), the tests start that one under Wine instead, through wine_driver.py:
// it gives the Wine prefix's HKCU the settings of GLIMMERHOLD_REGISTRY_FILE
// and then becomes the Windows process, so the pid a test kills is the
// driver's own (scripts/test-wine-engine.sh).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace prooftest {

// The Windows driver, or empty when the tests drive the Linux one.
inline std::filesystem::path windowsDriver() {
  const char* named = std::getenv("GLIMMERHOLD_WINE_DRIVER");
  return named != nullptr ? std::filesystem::path(named) : std::filesystem::path();
}

inline bool underWine() { return !windowsDriver().empty(); }

inline testsupport::ChildProcess startDriver(const std::vector<std::string>& args,
                                             const std::filesystem::path& workingDir) {
  if (!underWine()) return testsupport::ChildProcess(UPDATE_DRIVER_PATH, args, workingDir);
  return testsupport::ChildProcess(WINE_DRIVER_SCRIPT, args, workingDir);
}

// A new launcher that writes its working folder and its command line into
// "probe.txt" in its working folder: under Wine the Windows probe the
// process tests start (tests/win32/probe.cpp, built beside the driver), on
// Linux a shell script doing the same (and nothing after it: a key table may
// follow its text).
inline std::string markingLauncher() {
  if (underWine()) return testsupport::readFile(windowsDriver().parent_path() / "win32_probe.exe");
  return "#!/bin/sh\nprintf '%s\\n%s\\n' \"$PWD\" \"$0 $*\" > probe.txt\nexit 0\n";
}

}  // namespace prooftest
