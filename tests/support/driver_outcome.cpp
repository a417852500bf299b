#include "support/driver_outcome.h"

#include <cstdio>
#include <sstream>

namespace testsupport {

DriverOutcome parseDriverOutput(const std::string& output) {
  DriverOutcome outcome;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    // The Windows driver writes its lines in text mode: CR LF.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("box=", 0) == 0) {
      outcome.boxes.push_back(line.substr(4));
      continue;
    }
    unsigned long planned = 0;
    unsigned long started = 0;
    int state = 0;
    if (std::sscanf(line.c_str(), "planned=%lu started=%lu state=%d", &planned, &started, &state) == 3) {
      outcome.reported = true;
      outcome.planned = planned;
      outcome.started = started;
      outcome.state = state;
    }
  }
  return outcome;
}

}  // namespace testsupport
