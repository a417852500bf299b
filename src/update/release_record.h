// Where the installation stands among signed releases, kept in the
// installation folder ("version_release.txt") so that a validly signed but
// older list cannot be replayed, and a retired key stays retired.
//
// One line: "7\n" for release 7 of epoch 1 (the form launchers without
// epochs wrote and read), "7 epoch 2\n" for release 7 of a later epoch.
#pragma once

#include <cstdint>
#include <string>

#include "update/list_signature.h"

namespace update {

constexpr const char* kReleaseRecordName = "version_release.txt";

// The recorded mark, or {0, 0} when there is none. A record that does not
// read as one counts as none: it is only ever written whole.
ReleaseMark readInstalledRelease(const char* fileName);

// The record's text for `mark`.
std::string formatReleaseRecord(const ReleaseMark& mark);

// Replaces the record atomically (side file, flushed, renamed over it).
[[nodiscard]] bool recordInstalledRelease(const char* fileName, const ReleaseMark& mark);

}  // namespace update
