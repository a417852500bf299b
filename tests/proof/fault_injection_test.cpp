// The whole update run, in a process of its own, against a server that
// misbehaves in every way a network or a server can: each fault ends the way
// the launcher promises, and nothing anywhere in the scratch tree changes but
// what a good download changes inside the installation folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/streaming_file.h"
#include "proof/driver_process.h"
#include "support/child_process.h"
#include "support/driver_outcome.h"
#include "support/registry_fixture.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "support/tree_snapshot.h"
#include "update/update_run.h"

using net::DownloadStatus;
using update::kVersionListName;
using update::UpdateState;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::httpResponse;
using testsupport::HttpScript;
using testsupport::TestHttpServer;

constexpr const char* kOk = "HTTP/1.0 200 OK";

std::string pattern(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
  return bytes;
}

// One run of the driver against one scripted server, in a scratch tree of
// its own: the registry file, the installation, and the folder the driver
// starts in.
class FaultInjectionTest : public ::testing::Test {
 protected:
  static constexpr const char* kListPath = "/up/version_list.txt";

  void SetUp() override {
    fs::create_directories(install());
    fs::create_directories(scratch_ / "start");
    testsupport::writeInstallationSettings(scratch_ / "user.reg", install().string());
    // Installed and current before the run: must come through every fault.
    testsupport::writeFile(install() / "keep.txt", "kept bytes");
    testsupport::writeFile(install() / "target.bin", "the old target");
    testsupport::writeFile(install() / kVersionListName, "keep.txt 1 10\ntarget.bin 1 14\n");
  }

  fs::path install() const { return scratch_ / "Glimmerhold"; }

  // The server: the list answers `list`, target.bin answers `target`, and
  // anything else is a 404.
  void serve(HttpScript list, HttpScript target) {
    server_ = std::make_unique<TestHttpServer>([list, target](const std::string& request) {
      std::string path = TestHttpServer::requestPath(request);
      if (path == kListPath) return list;
      if (path == "/up/target.bin") return target;
      return HttpScript().send(httpResponse("HTTP/1.0 404 Not Found", ""));
    });
    ASSERT_TRUE(server_->listening());
  }

  // The list that asks for a new target.bin of `size` bytes.
  static HttpScript newTargetList(std::size_t size) {
    return HttpScript().send(httpResponse(kOk, "keep.txt 1 10\ntarget.bin 2 " + std::to_string(size) + "\n"));
  }

  testsupport::DriverOutcome runDriver(int tickMs = 0) {
    before_ = testsupport::snapshotTree(scratch_.path());
    testsupport::ChildProcess driver =
        prooftest::startDriver({"--tick-ms", std::to_string(tickMs), "--limit-s", "60"}, scratch_ / "start");
    EXPECT_TRUE(driver.started());
    EXPECT_TRUE(driver.wait(90s)) << "the driver did not end";
    output_ = driver.output();
    EXPECT_EQ(driver.exitCode(), 0) << output_;
    server_->stop();
    return testsupport::parseDriverOutput(output_);
  }

  // The run failed with one box, and no byte anywhere in the scratch tree
  // changed: the old target and the old list are as they were, and no side
  // file is left. `wineText` is what the box may say instead when the
  // Windows driver runs under Wine, where a fault reaches the program
  // otherwise than on Windows.
  void expectFailureLeavingAllAsItWas(const std::string& text, const std::string& wineText = "") {
    testsupport::DriverOutcome outcome = runDriver();
    EXPECT_EQ(outcome.state, static_cast<int>(UpdateState::Failed)) << output_;
    const bool wineAlike =
        prooftest::underWine() && !wineText.empty() && outcome.boxes == std::vector<std::string>{"Error|" + wineText};
    if (!wineAlike) {
      EXPECT_EQ(outcome.boxes, std::vector<std::string>{"Error|" + text}) << output_;
    }
    EXPECT_EQ(testsupport::describeDifferences(before_, testsupport::snapshotTree(scratch_.path())), "");
  }

  // The run finished with target.bin holding `body`, recorded in the list;
  // nothing else in the scratch tree changed.
  void expectTargetUpdated(const std::string& body, int tickMs = 0) {
    testsupport::DriverOutcome outcome = runDriver(tickMs);
    EXPECT_EQ(outcome.state, static_cast<int>(UpdateState::Finished)) << output_;
    EXPECT_TRUE(outcome.boxes.empty()) << output_;
    testsupport::TreeSnapshot expected = before_;
    expected["Glimmerhold/target.bin"] = body;
    expected["Glimmerhold/" + std::string(kVersionListName)] =
        "keep.txt 1 10\ntarget.bin 2 " + std::to_string(body.size()) + "\n";
    EXPECT_EQ(testsupport::describeDifferences(expected, testsupport::snapshotTree(scratch_.path())), "");
    EXPECT_EQ(testsupport::readFile(install() / "target.bin"), body);
  }

  std::vector<std::string> requestedPaths() const {
    std::vector<std::string> paths;
    for (const std::string& request : server_->requests()) paths.push_back(TestHttpServer::requestPath(request));
    return paths;
  }

  testsupport::TempDir scratch_;
  testsupport::RegistryFileEnv registry_{scratch_ / "user.reg"};
  std::unique_ptr<TestHttpServer> server_;
  testsupport::TreeSnapshot before_;
  std::string output_;
};

const std::string kBody = pattern(5000, 'a');
// Wine's sockets report a reset that arrives while a receive waits now as
// the reset (10054, as Windows does), now as the peer's orderly close: the
// run then sees the body cut short (5). Either way the file fails and
// nothing changes.
const std::string kResetUnderWine = "Download error code " + std::to_string(statusCode(DownloadStatus::BodyTruncated));

TEST_F(FaultInjectionTest, AFreshInstallFetchesEveryFileAndAPatchOnlyTheChangedOnes) {
  // What an installer leaves: the settings and an empty folder.
  fs::remove_all(install());
  fs::create_directories(install());
  std::map<std::string, std::string> files = {
      {"Glimmerhold.exe", pattern(70000, 'g')},
      {"data/Espa%f1a.pak", pattern(3000, 'e')},
      {"data/maps/one.map", "map one"},
  };
  const std::string release1 = "Glimmerhold.exe 1 70000\ndata/Espa%f1a.pak 1 3000\ndata/maps/one.map 1 7\n";
  server_ = std::make_unique<TestHttpServer>(TestHttpServer::servingUpdates("/up/", release1, files));
  ASSERT_TRUE(server_->listening());
  testsupport::DriverOutcome outcome = runDriver();
  EXPECT_EQ(outcome.state, static_cast<int>(UpdateState::Finished)) << output_;
  EXPECT_EQ(outcome.planned, 3u);
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{kListPath, "/up/Glimmerhold.exe", "/up/data/Espa%f1a.pak",
                                                        "/up/data/maps/one.map"}));
  testsupport::TreeSnapshot expected = before_;
  expected["Glimmerhold/" + std::string(kVersionListName)] = release1;
  expected["Glimmerhold/Glimmerhold.exe"] = files["Glimmerhold.exe"];
  expected["Glimmerhold/data"] = std::nullopt;
  expected
      ["Glimmerhold/data/Espa\xc3\xb1"
       "a.pak"] = files["data/Espa%f1a.pak"];
  expected["Glimmerhold/data/maps"] = std::nullopt;
  expected["Glimmerhold/data/maps/one.map"] = files["data/maps/one.map"];
  EXPECT_EQ(testsupport::describeDifferences(expected, testsupport::snapshotTree(scratch_.path())), "");

  // The patch: one file changed, one new; only those two are asked for.
  files["data/maps/one.map"] = "map one, second edition";
  files["data/maps/two.map"] = "map two";
  const std::string release2 =
      "Glimmerhold.exe 1 70000\ndata/Espa%f1a.pak 1 3000\ndata/maps/one.map 2 23\ndata/maps/two.map 1 7\n";
  server_ = std::make_unique<TestHttpServer>(TestHttpServer::servingUpdates("/up/", release2, files));
  ASSERT_TRUE(server_->listening());
  outcome = runDriver();
  EXPECT_EQ(outcome.state, static_cast<int>(UpdateState::Finished)) << output_;
  EXPECT_EQ(outcome.planned, 2u);
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{kListPath, "/up/data/maps/one.map", "/up/data/maps/two.map"}));
  expected = before_;
  expected["Glimmerhold/" + std::string(kVersionListName)] = release2;
  expected["Glimmerhold/data/maps/one.map"] = files["data/maps/one.map"];
  expected["Glimmerhold/data/maps/two.map"] = files["data/maps/two.map"];
  EXPECT_EQ(testsupport::describeDifferences(expected, testsupport::snapshotTree(scratch_.path())), "");
}

TEST_F(FaultInjectionTest, AResetMidBodyShowsTheSocketErrorAndKeepsTheOldFile) {
  serve(newTargetList(kBody.size()),
        HttpScript()
            .send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + kBody.substr(0, 1500))
            .awaitClientRead()
            .reset());
  expectFailureLeavingAllAsItWas("Download error code 10054", kResetUnderWine);
}

TEST_F(FaultInjectionTest, AResetOfTheListShowsTheSocketError) {
  serve(HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 900\r\n\r\nkeep.txt 1 10\n").awaitClientRead().reset(),
        HttpScript());
  expectFailureLeavingAllAsItWas("Download error code 10054", kResetUnderWine);
}

TEST_F(FaultInjectionTest, AStalledServerThatGoesOnCompletesTheFile) {
  // Longer than several ticks: the run keeps polling and neither fails nor
  // completes the file early.
  serve(newTargetList(kBody.size()),
        HttpScript()
            .send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + kBody.substr(0, 2000))
            .stall(1200ms)
            .send(kBody.substr(2000)));
  expectTargetUpdated(kBody, 250);
}

TEST_F(FaultInjectionTest, OneByteAtATimeStillMakesWholeResponses) {
  const std::string body = pattern(300, 'k');
  // Every receive holds one byte: the status line, the length and the blank
  // line all arrive split, for the list as for the file.
  serve(HttpScript().trickle(httpResponse(kOk, "keep.txt 1 10\ntarget.bin 2 300\n")),
        HttpScript().trickle(httpResponse(kOk, body)));
  expectTargetUpdated(body);
}

TEST_F(FaultInjectionTest, AConnectionClosedEarlyIsATruncatedBody) {
  serve(newTargetList(kBody.size()),
        HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + kBody.substr(0, 100)));
  expectFailureLeavingAllAsItWas("Download error code " + std::to_string(statusCode(DownloadStatus::BodyTruncated)));
}

TEST_F(FaultInjectionTest, MoreThanAnnouncedInAFileIsRefused) {
  serve(newTargetList(100), HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + kBody));
  expectFailureLeavingAllAsItWas("Download error code " + std::to_string(statusCode(DownloadStatus::BodyOverlong)));
}

TEST_F(FaultInjectionTest, MoreThanAnnouncedInTheListIsRefused) {
  serve(HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 14\r\n\r\nkeep.txt 1 10\ntarget.bin 2 5000\n"),
        HttpScript());
  expectFailureLeavingAllAsItWas("Download error code " + std::to_string(statusCode(DownloadStatus::BodyOverlong)));
}

TEST_F(FaultInjectionTest, RedirectsAndServerErrorsAreInvalidResponses) {
  const std::vector<std::string> answers = {
      "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1/elsewhere/target.bin\r\nContent-Length: 0\r\n\r\n",
      httpResponse("HTTP/1.0 404 Not Found", "no such file"),
      httpResponse("HTTP/1.0 500 Internal Server Error", "broken"),
  };
  for (const std::string& answer : answers) {
    SCOPED_TRACE(answer.substr(0, answer.find('\r')));
    serve(newTargetList(kBody.size()), HttpScript().send(answer));
    expectFailureLeavingAllAsItWas("Invalid response from the server.");
    // And the same answer to the list itself.
    serve(HttpScript().send(answer), HttpScript());
    expectFailureLeavingAllAsItWas("Invalid response from the server.");
  }
}

TEST_F(FaultInjectionTest, AHeaderBlockBeyond64KiBIsRefusedAndOneWithinIsRead) {
  auto headerOf = [](std::size_t blockSize) {
    std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\nX-Padding: ";
    head += std::string(blockSize - head.size() - 4, 'p');
    return head + "\r\n\r\n";
  };
  ASSERT_EQ(headerOf(64 * 1024 + 1).size(), 64u * 1024 + 1);
  serve(newTargetList(kBody.size()), HttpScript().send(headerOf(64 * 1024 + 1) + kBody));
  expectFailureLeavingAllAsItWas("Invalid response from the server.");

  // Within the limit the header spans many receives and the body follows.
  serve(newTargetList(kBody.size()), HttpScript().send(headerOf(64 * 1024) + kBody));
  expectTargetUpdated(kBody);
}

TEST_F(FaultInjectionTest, ALyingContentLengthNeverPassesForABody) {
  struct Lie {
    std::string header;
    std::string text;
  };
  const std::vector<Lie> lies = {
      // Another length than the list gives the file: refused at the header.
      {"Content-Length: 9000", "Download error code " + std::to_string(statusCode(DownloadStatus::SizeMismatch))},
      {"Content-Length: -5", "Download error code " + std::to_string(statusCode(DownloadStatus::LengthInvalid))},
      {"Content-Length: 99999999999",
       "Download error code " + std::to_string(statusCode(DownloadStatus::BodyTooLarge))},
      // A length that is no number announces nothing, and this body is not
      // the 32768 bytes an unannounced one must be.
      {"Content-Length: many", "Download error code " + std::to_string(statusCode(DownloadStatus::LengthMissing))},
  };
  for (const Lie& lie : lies) {
    SCOPED_TRACE(lie.header);
    serve(newTargetList(kBody.size()), HttpScript().send("HTTP/1.0 200 OK\r\n" + lie.header + "\r\n\r\n" + kBody));
    expectFailureLeavingAllAsItWas(lie.text);
  }
}

TEST_F(FaultInjectionTest, AnAnswerOfAnotherSizeThanListedIsNeverInstalledNorRecorded) {
  const std::string sizeMismatch = "Download error code " + std::to_string(statusCode(DownloadStatus::SizeMismatch));
  const std::vector<std::string> answers = {
      // A hotel network's login page in place of the game file: a normal
      // answer with its own length.
      httpResponse(kOk, "<html><body>Welcome to Hotel Example. Please log in.</body></html>"),
      // A body without a length, cut at exactly the 32768 bytes such a body
      // may have.
      httpResponse(kOk, pattern(32768, 'c'), false),
  };
  for (const std::string& answer : answers) {
    SCOPED_TRACE(answer.substr(0, 60));
    serve(newTargetList(40000), HttpScript().send(answer));
    expectFailureLeavingAllAsItWas(sizeMismatch);
  }
}

TEST_F(FaultInjectionTest, NamesThatLeaveTheInstallationWriteNothingAnywhere) {
  // The absolute name points into the scratch tree, so a write through it
  // would show in the tree's snapshot.
  const std::string absolute = (scratch_ / "start" / "absolute.txt").string();
  const std::vector<std::string> names = {
      "../escape.txt",           "sub/../../escape.txt", "..\\escape.txt",
      "sub\\..\\..\\escape.txt", "...\\escape.txt",      absolute,
      "\\start\\escape.txt",     "C:/escape.txt",        "C:escape.txt",
      "c:\\escape.txt",
  };
  std::string list;
  for (const std::string& name : names) list += name + " 1 6\n";
  list += "keep.txt 1 10\nok.txt 1 2\n";
  server_ = std::make_unique<TestHttpServer>([list](const std::string& request) {
    if (TestHttpServer::requestPath(request) == kListPath) return HttpScript().send(httpResponse(kOk, list));
    // Whatever else is asked for, the server hands it over.
    return HttpScript().send(httpResponse(kOk, TestHttpServer::requestPath(request) == "/up/ok.txt" ? "ok" : "escape"));
  });
  ASSERT_TRUE(server_->listening());
  testsupport::DriverOutcome outcome = runDriver();
  EXPECT_EQ(outcome.state, static_cast<int>(UpdateState::Finished)) << output_;
  EXPECT_EQ(outcome.planned, 1u);
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{kListPath, "/up/ok.txt"}));
  testsupport::TreeSnapshot expected = before_;
  expected["Glimmerhold/ok.txt"] = "ok";
  expected["Glimmerhold/" + std::string(kVersionListName)] = "keep.txt 1 10\ntarget.bin 1 14\nok.txt 1 2\n";
  EXPECT_EQ(testsupport::describeDifferences(expected, testsupport::snapshotTree(scratch_.path())), "");
}

}  // namespace
