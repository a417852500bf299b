#include "support/signing_vector.h"

namespace testsupport {

platform::P256PublicKey vectorKey() {
  return fromHex<64>(
      "71f6c03fc9432c6549fffa821da96911d121622711f34c3d645ad770cfc82619"
      "40b19992b4cfec66a9c9d194059251abbdbe6b78bdb7d060bd73418ff6147d3f");
}

platform::P256PublicKey otherKey() {
  return fromHex<64>(
      "679e7cbc1a274d764cd9bdb22ebba05963d631f4db40b89ae8e4adecccf0bf77"
      "9a4f290eb4ef62ce5bfc1295b18225a919b0ccc2844868dcf37cdbee060403a1");
}

}  // namespace testsupport
