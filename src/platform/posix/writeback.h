// Starting the writeback of a file's dirty pages without waiting for it: the
// one call of the POSIX file backend that each kernel offers its own way (the
// Linux one is in platform/linux/writeback.cpp). Only a hint: a kernel
// without such a call does nothing, and a later flush() writes everything.
#pragma once

#include <sys/types.h>

namespace platform {

// Asks the kernel to start writing the `length` bytes of `fd` from `offset`
// to the disk, and returns at once. A failure changes nothing.
void startWriteback(int fd, off_t offset, off_t length);

}  // namespace platform
