// Presses Cancel in a running installer, as a player leaving it on its first
// page would: waits (bounded) for a top-level window whose title begins with
// the text given and sends it its Cancel button's command. Exits with 0 once
// sent, 1 when no such window appeared.
#include <windows.h>

#include <cstring>

namespace {

struct Search {
  const char* titleStart;
  HWND found = nullptr;
};

BOOL CALLBACK visit(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  char title[256] = {};
  ::GetWindowTextA(window, title, sizeof title);
  if (std::strncmp(title, search->titleStart, std::strlen(search->titleStart)) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  // The installer's window appears within seconds even on a loaded machine;
  // 60 s at most.
  for (int attempt = 0; attempt < 600; ++attempt) {
    Search search{argv[1]};
    ::EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) {
      return ::PostMessageA(search.found, WM_COMMAND, IDCANCEL, 0) ? 0 : 3;
    }
    ::Sleep(100);
  }
  return 1;
}
