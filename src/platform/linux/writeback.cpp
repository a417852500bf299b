// The writeback hint on Linux: sync_file_range starts the writing of a range
// and returns without waiting for it.
#include "platform/posix/writeback.h"

#include <fcntl.h>

namespace platform {

void startWriteback(int fd, off_t offset, off_t length) {
  ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
}

}  // namespace platform
