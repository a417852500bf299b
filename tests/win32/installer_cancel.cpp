// Presses Cancel in a window that waits for the player, as a player leaving
// an installer on its first page, or closing a message box, would: waits
// (bounded) for a visible top-level window whose title begins with the text
// given, prints the texts it shows (its static controls, one a line), and
// sends it its Cancel button's command, which a box with only OK takes as
// OK. Exits with 0 once sent, 1 when no such window appeared.
#include <windows.h>

#include <cstdio>
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
  // A dialog is shown once its controls hold their texts.
  if (!::IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK printStaticText(HWND control, LPARAM) {
  char kind[32] = {};
  char text[1024] = {};
  ::GetClassNameA(control, kind, sizeof kind);
  if (::lstrcmpiA(kind, "Static") == 0 && ::GetWindowTextA(control, text, sizeof text) > 0) {
    std::printf("%s\n", text);
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  // The window appears within seconds even on a loaded machine; 60 s at
  // most.
  for (int attempt = 0; attempt < 600; ++attempt) {
    Search search{argv[1]};
    ::EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) {
      ::EnumChildWindows(search.found, printStaticText, 0);
      std::fflush(stdout);
      return ::PostMessageA(search.found, WM_COMMAND, IDCANCEL, 0) ? 0 : 3;
    }
    ::Sleep(100);
  }
  return 1;
}
