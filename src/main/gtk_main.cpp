// The Linux process entry: starts GTK and hands the command line to the
// launcher.
#include <gtk/gtk.h>

#include <string>

#include "shell/launcher.h"

namespace {

// The command line after the program name, as one text: the arguments joined
// by blanks. Bytes are widened one by one, as the launcher does with every
// narrow text.
std::u16string commandLineOf(int argc, char** argv) {
  std::u16string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += u' ';
    for (const char* c = argv[i]; *c != '\0'; ++c) line += static_cast<char16_t>(static_cast<unsigned char>(*c));
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  std::u16string commandLine = commandLineOf(argc, argv);
  gtk_init(&argc, &argv);
  return launcherMain(commandLine);
}
