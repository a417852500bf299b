// glimmerhold-publish --check-server: asks an update server for what the
// launcher asks it, with the launcher's own request bytes, and reports each
// thing the server or a cache in front of it does that would break an
// update or hold players on an old release, each with its fix.
#pragma once

#include <cstddef>
#include <filesystem>
#include <ostream>
#include <string>

namespace publish {

struct ServerCheckOptions {
  // "http://host/folder/": the update base the page names, with its scheme.
  std::string url;
  // The published folder (`--out DIR`) the server should serve; empty when
  // none is given, and the list's sizes and tokens (and its signature) are
  // the reference.
  std::filesystem::path against;
  // How many of the listed files to fetch, spread over the list and the
  // largest among them; 0 fetches every one.
  std::size_t sample = 0;
};

// The exit status: 0 when nothing would break the launcher (warnings aside),
// 1 when something would, 4 when the published folder cannot be read.
int checkServer(const ServerCheckOptions& options, std::ostream& out, std::ostream& err);

// The command line from "--check-server" on: argv[first] is that option.
int checkServerMain(int argc, const char* const* argv, int first, std::ostream& out, std::ostream& err);

// The lines --help shows for these options.
extern const char* const kServerCheckHelp;

}  // namespace publish
