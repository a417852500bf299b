// Test main for Windows binaries whose tests run servers on port 80 (see
// support/linux/netns_main.cpp). Wine cannot make a network namespace itself:
// its runner (scripts/test-windows.sh) starts Wine inside one and says so in
// GLIMMERHOLD_PRIVATE_NETWORK; without that the binary refuses to run.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  const char* privateNetwork = std::getenv("GLIMMERHOLD_PRIVATE_NETWORK");
  if (privateNetwork == nullptr || std::strcmp(privateNetwork, "1") != 0) {
    std::fprintf(stderr, "run this under scripts/test-windows.sh: it needs a private network namespace\n");
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
