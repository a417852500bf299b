#include "update/program_start.h"

namespace update {

// The game and a freshly fetched launcher are both started this way; neither
// caller waits for the program or keeps more than the handle's truth value.
platform::ProcessHandle runProgram(const char* commandLine, const char* workingFolder) {
  return platform::createProcess(commandLine, workingFolder);
}

}  // namespace update
