#include "publish.h"

#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "content_hash.h"
#include "list_check.h"
#include "platform/files.h"
#include "release_names.h"
#include "release_scan.h"
#include "served_tree.h"
#include "signing.h"
#include "update/list_signature.h"
#include "update/version_list.h"

using update::kMaxRelease;
using update::kSignatureName;
using update::kVersionListName;
using update::saveLocalList;
using update::VersionList;

namespace publish {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "glimmerhold-publish";

std::ostream& complain(std::ostream& err) { return err << kProgram << ": "; }

std::string shown(const fs::path& path) { return quotedName(path.string()); }

std::string count(std::size_t n, const char* noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); }

// Hashes `path` into an entry named `file.entryName`.
bool describe(const ReleaseFile& file, const fs::path& path, VersionList& list, std::ostream& err) {
  ContentHash hash = hashFile(path);
  if (!hash.error.empty()) {
    complain(err) << "cannot read \"" << printableName(file.diskName) << "\": " << hash.error << "\n";
    return false;
  }
  // The scan checked the size, but the file may have grown since.
  if (hash.size > 0x7FFFFFFF) {
    complain(err) << "cannot publish \"" << printableName(file.diskName)
                  << "\": it is 2 GiB or larger, more than the launcher can fetch\n";
    return false;
  }
  list.append({file.entryName, hash.token, static_cast<std::uint32_t>(hash.size)});
  return true;
}

// Signs the list at `listPath` with the release after the one the signature
// at `previousSignature` holds, writing `signaturePath`.
int sign(const PublishOptions& options, const fs::path& listPath, const fs::path& previousSignature,
         const fs::path& signaturePath, std::uint32_t* release, std::ostream& err) {
  std::string error;
  std::unique_ptr<SigningKey> key = SigningKey::load(options.signingKey, error);
  std::optional<std::uint32_t> previous;
  if (key) previous = previousRelease(previousSignature, error);
  if (previous && *previous >= kMaxRelease)
    error = "the release number cannot grow past " + std::to_string(kMaxRelease);
  if (!key || !previous || *previous >= kMaxRelease ||
      !writeListSignature(*key, listPath, *previous + 1, signaturePath, error)) {
    complain(err) << error << "\n";
    return kFailed;
  }
  *release = *previous + 1;
  return kDone;
}

std::string signedText(const PublishOptions& options, std::uint32_t release) {
  return options.signingKey.empty() ? std::string() : ", signed as release " + std::to_string(release);
}

int check(const PublishOptions& options, const ReleaseScan& scan, std::ostream& out, std::ostream& err) {
  const fs::path listPath = (options.out.empty() ? options.release : options.out) / kVersionListName;
  const std::optional<std::string> text =
      platform::readWholeFile(listPath.c_str(), std::numeric_limits<std::size_t>::max());
  if (!text) {
    complain(err) << "cannot read " << shown(listPath) << "\n";
    return kFailed;
  }
  VersionList current;
  for (const ReleaseFile& file : scan.files) {
    if (!describe(file, file.source, current, err)) return kFailed;
  }
  std::vector<std::string> differences = compareList(*text, current);
  for (const std::string& difference : differences) out << difference << "\n";
  if (!differences.empty()) {
    complain(err) << shown(listPath) << " does not match the release folder ("
                  << count(differences.size(), "difference") << ")\n";
    return kDiffers;
  }
  out << shown(listPath) << " matches the release folder (" << count(current.size(), "file") << ")\n";
  return kDone;
}

int writeInPlace(const PublishOptions& options, const ReleaseScan& scan, std::ostream& out, std::ostream& err) {
  VersionList list;
  for (const ReleaseFile& file : scan.files) {
    if (!describe(file, file.source, list, err)) return kFailed;
  }
  const fs::path listPath = options.release / kVersionListName;
  if (!saveLocalList(listPath.c_str(), list)) {
    complain(err) << "cannot write " << shown(listPath) << "\n";
    return kFailed;
  }
  std::uint32_t release = 0;
  const fs::path signaturePath = options.release / kSignatureName;
  if (!options.signingKey.empty()) {
    if (int signedOutcome = sign(options, listPath, signaturePath, signaturePath, &release, err);
        signedOutcome != kDone) {
      return signedOutcome;
    }
  }
  out << "wrote " << shown(listPath) << " (" << count(list.size(), "file") << signedText(options, release) << ")\n";
  return kDone;
}

int layOut(const PublishOptions& options, const ReleaseScan& scan, std::ostream& out, std::ostream& err) {
  ServedTree tree(options.out, options.hardLink);
  std::string error;
  if (!tree.open(options.release, error)) {
    complain(err) << error << "\n";
    return kFailed;
  }
  VersionList list;
  for (const ReleaseFile& file : scan.files) {
    fs::path placed;
    if (!tree.place(file, placed, error)) {
      complain(err) << error << "\n";
      return kFailed;
    }
    if (!describe(file, placed, list, err)) return kFailed;
  }
  if (!saveLocalList(tree.listPath().c_str(), list)) {
    complain(err) << "cannot write the version list of the served folder\n";
    return kFailed;
  }
  // Signed in the side folder, so the list and its signature are served
  // together or not at all; the number follows the folder being replaced.
  std::uint32_t release = 0;
  if (!options.signingKey.empty()) {
    const fs::path signaturePath = tree.listPath().parent_path() / kSignatureName;
    if (int signedOutcome = sign(options, tree.listPath(), options.out / kSignatureName, signaturePath, &release, err);
        signedOutcome != kDone) {
      return signedOutcome;
    }
  }
  if (!tree.commit(error)) {
    complain(err) << error << "\n";
    return kFailed;
  }
  out << "laid out " << shown(options.out) << " (" << count(list.size(), "file") << " and " << kVersionListName
      << signedText(options, release) << ")\n";
  return kDone;
}

constexpr const char* kHelp = R"help(Usage: glimmerhold-publish [--out DIR [--hardlink]] [--follow-links | --skip-links]
                           [--sign KEY] [--check] RELEASE_FOLDER
       glimmerhold-publish --new-key NAME

Writes RELEASE_FOLDER/version_list.txt: one line per file below the folder
(sub-folders included, "/" between folders), its name escaped, a version
token derived from its content (SHA-256, 32 hex digits) and its size in
bytes, sorted by name. The list is replaced in one step.

Names: a blank, "!" and the letters ñ á é í ó ú (spelt in UTF-8 or as their
Latin-1 byte) are escaped. Any other white space or non-ASCII character, "%",
"#", a character Windows does not allow in file names, a name over 255 bytes
once escaped, a Windows device name, a name ending in a dot or a blank, two
names that differ only in letter case, and the names of the launcher's own
files are refused, each with a message naming the file; nothing is written.
A name whose path would pass Windows' limit of 259 characters in a typical
per-user installation (C:\Users\<user>\AppData\Local\Programs\<game>, 85
characters: a 20-letter user name, a 32-letter game folder) is listed with
a warning: the launcher installs it, but the game, the installer and
Explorer may not open it where Windows' long-path policy is off.
Symbolic links to files inside the folder are followed; links that lead to
folders are refused, and so are links that lead out of the folder or
nowhere, unless --follow-links or --skip-links says otherwise. Files of
2 GiB or more are refused.

Options:
  --out DIR  Lay out the folder a static web server serves: every file under
             the name the server looks up for its listed name (escapes
             decoded to Latin-1 bytes), copied (reflinked where the file
             system can), plus DIR/version_list.txt. DIR is built beside
             itself and swapped in whole; an existing DIR must be empty or
             hold a version_list.txt. The release folder is left untouched.
  --hardlink With --out: hard-link the files where possible instead of
             copying them. Then a release file edited in place afterwards
             is served changed under its old version token: publish again
             after every change.
  --copy     With --out: copy the files (the default; kept for scripts).
  --follow-links
             Publish what a symbolic link leading out of the folder points
             to, under the link's name. Links leading nowhere are refused.
  --skip-links
             Leave out symbolic links that lead out of the folder or
             nowhere, each with a warning.
  --sign KEY Sign the list with the private key KEY (PEM, ECDSA P-256):
             writes version_list.sig beside version_list.txt, holding the
             release number, one more than the one the folder's previous
             signature holds (1 for the first), and the signature over the
             number and the list's exact bytes. A launcher built with the
             public key installs only what it signed, and never a release
             older than one it has installed.
  --new-key NAME
             Make a key pair: NAME.pem, the private key (readable by you
             only; keep it off the update server), and NAME.pub.pem, the
             public key to build the launcher with
             (-DGLIMMERHOLD_UPDATE_KEY=NAME.pub.pem). Never overwrites.
  --check    Compare the existing list (of RELEASE_FOLDER, or of DIR with
             --out) with the folder and print each difference:
             "missing: NAME", "unlisted: NAME", "changed: NAME (...)",
             "listed twice: NAME", "malformed line N". Writes nothing.
  --help     Show this text.

Exit codes:
  0  the list was written (and signed), the key pair made, or --check found
     no difference
  1  --check found differences
  2  the command line is wrong
  3  files that cannot be published (each named); nothing was written
  4  a file or folder could not be read or written, or the list could not
     be signed (the key or the previous signature is unusable)
)help";

}  // namespace

int publishRelease(const PublishOptions& options, std::ostream& out, std::ostream& err) {
  ReleaseScan scan = scanRelease(options.release, options.outsideLinks);
  for (const std::string& warning : scan.warnings) complain(err) << "warning: " << warning << "\n";
  for (const std::string& problem : scan.problems) complain(err) << problem << "\n";
  if (scan.unreadable) return kFailed;
  if (!scan.problems.empty()) {
    complain(err) << count(scan.problems.size(), "file") << " cannot be published; nothing was written\n";
    return kRefused;
  }
  if (options.check) return check(options, scan, out, err);
  return options.out.empty() ? writeInPlace(options, scan, out, err) : layOut(options, scan, out, err);
}

int publishMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  PublishOptions options;
  bool haveRelease = false;
  std::string copyMode;  // "--copy" or "--hardlink" when given
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      out << kHelp;
      return kDone;
    }
    if (argument == "--check") {
      options.check = true;
    } else if (argument == "--copy" || argument == "--hardlink") {
      options.hardLink = argument == "--hardlink";
      copyMode = argument;
    } else if (argument == "--follow-links" || argument == "--skip-links") {
      if (options.outsideLinks != OutsideLinks::Refuse) {
        complain(err) << "--follow-links and --skip-links exclude each other (see --help)\n";
        return kUsage;
      }
      options.outsideLinks = argument == "--follow-links" ? OutsideLinks::Follow : OutsideLinks::Skip;
    } else if (argument == "--out" && i + 1 < argc && argv[i + 1][0] != '\0') {
      options.out = argv[++i];
    } else if (argument == "--sign" && i + 1 < argc && argv[i + 1][0] != '\0') {
      options.signingKey = argv[++i];
    } else if (argument == "--new-key" && i + 1 < argc && argv[i + 1][0] != '\0' && argc == 3) {
      std::string error;
      if (!makeKeyPair(argv[i + 1], error)) {
        complain(err) << error << "\n";
        return kFailed;
      }
      out << "made " << argv[i + 1] << ".pem (private: keep it secret) and " << argv[i + 1] << ".pub.pem\n";
      return kDone;
    } else if (argument.rfind("--", 0) == 0 || haveRelease || argument.empty()) {
      complain(err) << "unexpected argument \"" << printableName(argument) << "\" (see --help)\n";
      return kUsage;
    } else {
      options.release = argument;
      haveRelease = true;
    }
  }
  if (!haveRelease || (!copyMode.empty() && options.out.empty()) || (options.check && !options.signingKey.empty())) {
    const std::string problem = !haveRelease    ? "no release folder given"
                                : options.check ? "--check does not sign"
                                                : copyMode + " needs --out DIR";
    complain(err) << problem << " (see --help)\n";
    return kUsage;
  }
  // The list and signature code is the launcher's, whose file calls read
  // "\" as a folder separator, as on Windows: such a folder would be read
  // and written as another one.
  for (const std::filesystem::path* folder : {&options.release, &options.out}) {
    if (folder->native().find('\\') != std::string::npos) {
      complain(err) << "the folder \"" << printableName(folder->native())
                    << "\" has a \"\\\" in its path: name it without one\n";
      return kUsage;
    }
  }
  return publishRelease(options, out, err);
}

}  // namespace publish
