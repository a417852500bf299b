// A stand-in for a program the launcher starts: it writes its working folder
// and its command line into "probe.txt" in its working folder, then ends.
#include <windows.h>

#include <cstdio>

int main() {
  char folder[MAX_PATH];
  DWORD length = ::GetCurrentDirectoryA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return 2;
  std::FILE* out = std::fopen("probe.txt", "wb");
  if (out == nullptr) return 3;
  std::fprintf(out, "%s\n%s\n", folder, ::GetCommandLineA());
  return std::fclose(out) == 0 ? 0 : 4;
}
