// The Linux process entry: starts GTK and hands the command line to the
// launcher.
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

#include "shell/launcher.h"
#include "text/encoding.h"

namespace {

// The command line after the program name, as one text: the arguments joined
// by blanks. Bytes are widened one by one, as the launcher does with every
// narrow text.
std::u16string commandLineOf(int argc, char** argv) {
  std::u16string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += u' ';
    line += text::utf16FromLatin1(argv[i]);
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  std::u16string commandLine = commandLineOf(argc, argv);
  // Without a display there is no window and no box to say why: say it on
  // standard error and end with 0, as every other way out of the launcher
  // does.
  if (gtk_init_check(&argc, &argv) == FALSE) {
    std::fputs(
        "Launcher.exe: no display could be opened (DISPLAY or WAYLAND_DISPLAY); the launcher needs one to show "
        "its page\n",
        stderr);
    return 0;
  }
  return shell::launcherMain(commandLine);
}
