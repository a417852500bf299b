// The launcher's half of replacing itself: a launcher started with "/pause"
// from Launcher.exe.tmp copies itself over Launcher.exe.
#pragma once

#include <string>

namespace shell {

// Copies source over destination through a side file beside it, so the
// destination is replaced only by a complete copy. False when anything
// failed; the destination is then as it was.
[[nodiscard]] bool copyFile(const std::string& source, const std::string& destination);

// The full path of the running executable, or the empty text.
std::string modulePath();

// Whether two files hold the same bytes (false when either cannot be read):
// sizes first, then the bytes in bounded chunks.
[[nodiscard]] bool sameFileContents(const std::string& first, const std::string& second);

// Drops every "Launcher.exe" entry from the installation's version list, so
// the next update run fetches the launcher again.
void forgetLauncherVersion(const std::string& installPath);

}  // namespace shell
