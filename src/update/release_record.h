// The highest release number installed from signed lists, kept in the
// installation folder ("version_release.txt", one decimal line) so that a
// validly signed but older list cannot be replayed.
#pragma once

#include <cstdint>

namespace update {

constexpr const char* kReleaseRecordName = "version_release.txt";

// The recorded release, or 0 when there is none. A record that does not read
// as a release number counts as none: it is only ever written whole.
std::uint32_t readInstalledRelease(const char* fileName);

// Replaces the record atomically (side file, flushed, renamed over it).
[[nodiscard]] bool recordInstalledRelease(const char* fileName, std::uint32_t release);

}  // namespace update
