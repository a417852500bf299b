// The update run's hold on its download job.
#pragma once

#include <memory>

#include "net/streaming_file.h"

namespace update {

// Deletes a job whose worker has ended: its result is in, or it failed. A
// job still in flight is abandoned, not waited for: its worker may sit in a
// receive for as long as the transfer limits allow, and the launcher is
// ending (the player closed it, or pressed Play). The worker ends with the
// process.
struct JobDisposal {
  void operator()(net::cStreamingFile* job) const {
    if (job->done.load() || job->status.load() != 0) delete job;
  }
};

// The one owner of a download job.
using DownloadJob = std::unique_ptr<net::cStreamingFile, JobDisposal>;

}  // namespace update
