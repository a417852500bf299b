// The studio's public key that signs the update lists, compiled in from the
// build's GLIMMERHOLD_UPDATE_KEY. Without one the launcher updates unsigned,
// exactly as it always has.
#pragma once

#include <optional>

#include "platform/crypto.h"

std::optional<platform::P256PublicKey> compiledUpdateKey();
