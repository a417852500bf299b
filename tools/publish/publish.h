// glimmerhold-publish: writes the version list of a release folder, lays out
// the folder a static web server serves, or checks a list against a folder.
#pragma once

#include <filesystem>
#include <ostream>

#include "release_scan.h"
#include "signing.h"

namespace publish {

// The tool's exit codes, documented in its --help.
enum ExitCode : int {
  kDone = 0,     // the list was written, or --check found no difference
  kDiffers = 1,  // --check: the list and the folder differ
  kUsage = 2,    // the command line is wrong
  kRefused = 3,  // files the list cannot carry; nothing was written
  kFailed = 4,   // a file or folder could not be read or written
};

struct PublishOptions {
  std::filesystem::path release;
  std::filesystem::path out;  // empty: the list goes into the release folder
  bool check = false;
  bool hardLink = false;  // served files hard-linked rather than copied
  OutsideLinks outsideLinks = OutsideLinks::Refuse;
  // --sign: the private key that signs the list, with the next release number.
  std::filesystem::path signingKey{};
  // --product, --channel, --epoch, --expires: the signature's fields.
  SignRequest signRequest{};
  // --resign DIR: sign the served folder's list again (a new expiry), as the
  // release it is; `release` is then that folder.
  bool resign = false;
  // --release-folders: each release into a folder of its own under `out`,
  // "releases/<N>/", and "release.js" pointing at it.
  bool releaseFolders = false;
};

int publishRelease(const PublishOptions& options, std::ostream& out, std::ostream& err);

// The whole command line, argv[0] included.
int publishMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace publish
