// The one call of ChildProcess that each kernel offers its own way
// (support/linux/process_end.cpp on Linux).
#pragma once

#include <sys/types.h>

namespace testsupport {

// A descriptor that poll() reports readable once the child `pid` has ended,
// owned by the caller; -1 when the system gives none, and ChildProcess then
// polls the child's state instead.
int processEndDescriptor(pid_t pid);

}  // namespace testsupport
