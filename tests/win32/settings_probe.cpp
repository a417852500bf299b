// Prints what the launcher's own settings code reads from the current
// user's registry, for the installer's test (scripts/test-installer.sh):
// "InstallPath=..." and "Language=..." lines, the text as the launcher holds
// it. Exits with 1 when the launcher would find no installation.
#include <cstdio>
#include <string>

#include "settings/installation_settings.h"

using settings::currentLanguage;
using settings::loadLanguage;
using settings::readInstallPath;

int main() {
  std::string path;
  const bool installed = readInstallPath(path);
  loadLanguage();
  std::printf("InstallPath=%s\nLanguage=%s\n", path.c_str(), currentLanguage.c_str());
  return installed ? 0 : 1;
}
