// The worker's whole exchange: one HTTP/1.0 GET of the job's url from port
// 80, its body stored in the job's destination, its outcome left in the job.
#pragma once

namespace net {

class cStreamingFile;

// Runs on the job's worker thread. Ends with `done` set or a failure code in
// `status`, the socket closed and a side file never left behind.
void runHttpGet(cStreamingFile& job);

}  // namespace net
