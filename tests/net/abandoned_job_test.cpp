// The owner abandons a job that is still running when the player closes the
// launcher; the process must then end cleanly with the worker still blocked.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "net/streaming_file.h"
#include "support/test_http_server.h"

using net::cStreamingFile;

namespace {

using testsupport::HttpScript;
using testsupport::TestHttpServer;

// Reachable to the leak checker, as the owner's pointer would be.
cStreamingFile* abandoned = nullptr;

[[noreturn]] void exitWithWorkerBlocked() {
  // Not destroyed: exit() leaves locals alone, so the connection stays open
  // and silent and the worker stays in its receive.
  TestHttpServer silent(TestHttpServer::always(HttpScript().send("HTTP/1.0 200 OK\r\n").holdOpen()));
  if (!silent.listening()) std::_Exit(2);
  abandoned = std::make_unique<cStreamingFile>("127.0.0.1/big.pak", "").release();
  if (!silent.waitForRequests(1)) std::_Exit(3);
  std::exit(0);
}

TEST(AbandonedJobDeathTest, ProcessExitsWhileTheWorkerWaitsOnASilentServer) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exitWithWorkerBlocked(), testing::ExitedWithCode(0), "");
}

}  // namespace
