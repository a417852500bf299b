// What the launcher trusts for signed updates, compiled in from the build's
// GLIMMERHOLD_UPDATE_KEY (the studio's public keys, in epoch order),
// GLIMMERHOLD_UPDATE_KEY_EPOCH (the first key's epoch), and the product and
// channel (GLIMMERHOLD_GAME_NAME, GLIMMERHOLD_UPDATE_CHANNEL). Without any
// key the launcher updates unsigned, exactly as it always has.
//
// The keys sit in the program as one table, so that the publishing tool can
// tell which keys a Launcher.exe carries before it signs a release holding
// it: the 16 bytes "GlimmerholdKeys1", the first key's epoch and the number
// of keys (two bytes each, most significant first), then each key's 64 bytes
// (X then Y). The marker is spelt out nowhere else in the launcher, so that
// the table is the one place a program holds it.
#pragma once

#include <cstddef>

#include "update/list_signature.h"

namespace update {

constexpr std::size_t kKeyTableHeaderBytes = 20;

UpdateTrust compiledUpdateTrust();

}  // namespace update
