// A child's end as a descriptor on Linux: a pidfd.
#include "support/process_end.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace testsupport {

int processEndDescriptor(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

}  // namespace testsupport
