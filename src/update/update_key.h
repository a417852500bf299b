// The studio's public keys that sign the update lists, compiled in from the
// build's GLIMMERHOLD_UPDATE_KEY. Without any the launcher updates unsigned,
// exactly as it always has. More than one serves a key rotation: a list
// signed by any of them is accepted.
#pragma once

#include <vector>

#include "platform/crypto.h"

namespace update {

std::vector<platform::P256PublicKey> compiledUpdateKeys();

}  // namespace update
