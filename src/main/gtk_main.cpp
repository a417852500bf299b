// The Linux process entry: starts GTK and hands the command line to the
// launcher.
#include <gtk/gtk.h>

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
  gtk_init(&argc, &argv);
  return shell::launcherMain(commandLine);
}
