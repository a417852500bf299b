// One download job into one file, polled the way the update run polls it,
// for timing against other clients: fetch_one HOST/PATH LOCAL_FILE [DIGEST]
// With DIGEST (the file's SHA-256 in hex, 32 digits or more) the job checks
// the body against it as a launcher with an update key does.
// Exits 0 once the file is complete, 1 with the job's status otherwise.
#include <chrono>
#include <cstdio>
#include <thread>

#include "net/streaming_file.h"

using net::cStreamingFile;

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: fetch_one HOST/PATH LOCAL_FILE [DIGEST]\n");
    return 2;
  }
  cStreamingFile job(argv[1], argv[2], argc == 4 ? argv[3] : "");
  // The owner's side of the contract costs next to nothing: a look at the
  // published members now and then. A minute is far beyond any run here.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (job.status.load() == 0 && !job.isComplete()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "time limit passed\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (job.status.load() != 0) {
    std::fprintf(stderr, "status %d\n", static_cast<int>(job.status.load()));
    return 1;
  }
  return 0;
}
