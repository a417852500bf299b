// The Windows side of the registry fixture: the tests' settings go into the
// real current-user registry. That registry is the player's own on a real
// machine, so these helpers act only where the runner has marked it as a
// scratch one (GLIMMERHOLD_SCRATCH_REGISTRY=1, set by scripts/test-windows.sh
// for its throw-away Wine prefix); elsewhere they fail the test instead.
#pragma once

#include <vector>

#include "support/registry_fixture.h"

namespace testsupport {

// Removes HKEY_CURRENT_USER\Software\Quarvo with everything below it.
void clearSettingsRegistry();

// Clears as above, then creates each entry's key and stores its value.
void replaceSettingsInRegistry(const std::vector<RegFileWriter::Entry>& entries);

}  // namespace testsupport
