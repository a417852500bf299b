// What the headless update driver (tests/proof/update_driver.cpp) reports on
// its way out, read back from its output.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace testsupport {

struct DriverOutcome {
  bool reported = false;  // the summary line was found
  std::size_t planned = 0;
  std::size_t started = 0;
  int state = -1;
  std::vector<std::string> boxes;  // "caption|text"
};

DriverOutcome parseDriverOutput(const std::string& output);

}  // namespace testsupport
