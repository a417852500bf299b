#include "net/streaming_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "net/transfer_limits.h"
#include "platform/crypto.h"
#include "platform/sockets.h"
#include "support/job_wait.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"

using net::cStreamingFile;
using net::DownloadStatus;
using net::kMaxHeaderBytes;
using net::kMaxMemoryBody;
using net::partialFilePath;

namespace {

using testsupport::httpResponse;
using testsupport::HttpScript;
using testsupport::jobEnded;
using testsupport::TestHttpServer;

const std::string kOldContent = "the file as it was before";

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

std::string ok(std::string_view body, bool withLength = true) {
  return httpResponse("HTTP/1.0 200 OK", body, withLength);
}

class DownloadJob : public testing::Test {
 protected:
  // Runs one job against a server that answers every connection with
  // `script`, and waits for it to end.
  std::unique_ptr<cStreamingFile> fetch(const HttpScript& script, const std::string& url, const std::string& localPath,
                                        std::optional<std::uint32_t> listedSize = std::nullopt,
                                        const std::string& digest = "",
                                        std::uint32_t memoryBound = net::kMaxMemoryBody) {
    TestHttpServer server(TestHttpServer::always(script));
    EXPECT_TRUE(server.listening());
    auto job = std::make_unique<cStreamingFile>(url, localPath, digest, listedSize, memoryBound);
    EXPECT_TRUE(jobEnded(*job));
    requests = server.requests();
    return job;
  }

  std::unique_ptr<cStreamingFile> fetchToMemory(const HttpScript& script) {
    return fetch(script, "127.0.0.1/updates/version_list.txt", "");
  }

  // Fetches into a destination that already holds kOldContent.
  std::unique_ptr<cStreamingFile> fetchOverOldFile(const HttpScript& script,
                                                   std::optional<std::uint32_t> listedSize = std::nullopt,
                                                   const std::string& digest = "") {
    testsupport::writeFile(destination, kOldContent);
    return fetch(script, "127.0.0.1/updates/data/game.pak", destination.string(), listedSize, digest);
  }

  std::set<std::string> filesInFolder() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  // A failed fetch over an existing file leaves that file as it was and no
  // side file beside it.
  void expectOldFileKept() const {
    EXPECT_EQ(testsupport::readFile(destination), kOldContent);
    EXPECT_EQ(filesInFolder(), std::set<std::string>{"game.pak"});
  }

  static std::string body(const cStreamingFile& job) {
    return std::string(job.bufferStart, static_cast<std::size_t>(job.expectedLength.load()));
  }

  testsupport::TempDir dir;
  std::filesystem::path destination = dir / "game.pak";
  std::vector<std::string> requests;
};

TEST_F(DownloadJob, SendsTheExactRequestAndKeepsTheBodyInMemory) {
  auto job = fetchToMemory(HttpScript().send(ok("name 1 5\n")));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0],
            "GET http://127.0.0.1/updates/version_list.txt HTTP/1.0\r\n"
            "Host: 127.0.0.1\r\n"
            "Connection: close\r\n"
            "Pragma: no-cache\r\n"
            "User-Agent: QuarvoUpdater\r\n"
            "\r\n");
  EXPECT_EQ(job->status, 0);
  ASSERT_TRUE(job->isComplete());
  EXPECT_TRUE(job->inMemory);
  EXPECT_EQ(job->expectedLength, 9);
  EXPECT_EQ(job->received, 9u);
  EXPECT_EQ(body(*job), "name 1 5\n");
  EXPECT_EQ(job->bufferStart[9], '\0');
  EXPECT_EQ(job->writePos, job->bufferStart + 9);
}

TEST_F(DownloadJob, UrlWithoutPathIsAllHost) {
  auto job = fetch(HttpScript().send(ok("x")), "127.0.0.1", "");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\nConnection")),
            "GET http://127.0.0.1 HTTP/1.0\r\nHost: 127.0.0.1");
  EXPECT_TRUE(job->isComplete());
}

TEST_F(DownloadJob, AcceptsOkInEitherVersionAndCase) {
  for (const char* statusLine : {"HTTP/1.0 200 OK", "HTTP/1.1 200 OK", "HTTP/1.1 200 ok"}) {
    auto job = fetchToMemory(HttpScript().send(httpResponse(statusLine, "abc")));
    EXPECT_TRUE(job->isComplete()) << statusLine;
    EXPECT_EQ(body(*job), "abc") << statusLine;
  }
}

TEST_F(DownloadJob, AnyOtherStatusFailsWithoutTouchingTheDestination) {
  for (const char* response :
       {"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1/\r\nContent-Length: 0\r\n\r\n",
        "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", "HTTP/1.0 200\r\n\r\n", ""}) {
    auto job = fetchOverOldFile(HttpScript().send(response));
    EXPECT_EQ(job->status, statusCode(DownloadStatus::BadResponse)) << response;
    EXPECT_FALSE(job->isComplete());
    EXPECT_EQ(job->expectedLength, 0);
    expectOldFileKept();
  }
}

TEST_F(DownloadJob, FileIsReplacedOnlyWhenComplete) {
  std::string content = randomBytes(5 * 1024 * 1024 + 77, 1);
  auto job = fetchOverOldFile(HttpScript().send(ok(content)));
  ASSERT_TRUE(job->isComplete());
  EXPECT_FALSE(job->inMemory);
  EXPECT_EQ(job->bufferStart, nullptr);
  EXPECT_EQ(job->expectedLength, static_cast<std::int32_t>(content.size()));
  EXPECT_TRUE(testsupport::readFile(destination) == content);
  EXPECT_EQ(filesInFolder(), std::set<std::string>{"game.pak"});
}

TEST_F(DownloadJob, TheSideFileIsMadeAfreshNeverThroughALink) {
#if defined(_WIN32)
  GTEST_SKIP() << "links need privileges on Windows";
#endif
  // A link where the side file goes, planted or left: removed, not followed.
  const std::filesystem::path victim = dir / "victim";
  testsupport::writeFile(victim, "not the download's");
  std::filesystem::create_symlink(victim, partialFilePath(destination.string()));
  auto job = fetchOverOldFile(HttpScript().send(ok("new content")));
  ASSERT_TRUE(job->isComplete());
  EXPECT_EQ(testsupport::readFile(destination), "new content");
  EXPECT_EQ(testsupport::readFile(victim), "not the download's");
  EXPECT_EQ(filesInFolder(), (std::set<std::string>{"game.pak", "victim"}));
}

TEST_F(DownloadJob, LauncherReplacementIsAnOrdinaryDestination) {
  std::filesystem::path launcher = dir / "Launcher.exe.tmp";
  auto job = fetch(HttpScript().send(ok("MZ new launcher")), "127.0.0.1/Launcher.exe", launcher.string());
  ASSERT_TRUE(job->isComplete());
  EXPECT_EQ(testsupport::readFile(launcher), "MZ new launcher");
  EXPECT_EQ(filesInFolder(), std::set<std::string>{"Launcher.exe.tmp"});
}

TEST_F(DownloadJob, LengthHeaderMustStartALineAndKeepItsBlank) {
  // Recognised in lower case: 3 announced, 5 sent, so too long.
  auto lower = fetchToMemory(HttpScript().send("HTTP/1.0 200 OK\r\ncontent-length: 3\r\n\r\nhello"));
  EXPECT_EQ(lower->status, statusCode(DownloadStatus::BodyOverlong));
  EXPECT_FALSE(lower->isComplete());
  // Not recognised: the body is taken to be 32768 bytes.
  std::string content = randomBytes(32768, 8);
  for (const char* header : {"Content-Length:3", "X-Original-Content-Length: 3", "Server: x", "Content-Length: ?"}) {
    auto job = fetchToMemory(HttpScript().send("HTTP/1.0 200 OK\r\n" + std::string(header) + "\r\n\r\n" + content));
    EXPECT_TRUE(job->isComplete()) << header;
    EXPECT_TRUE(body(*job) == content) << header;
  }
}

TEST_F(DownloadJob, BodyWithoutLengthMustBeExactly32768Bytes) {
  for (std::size_t size : {std::size_t{0}, std::size_t{5000}, std::size_t{32767}, std::size_t{32768},
                           std::size_t{32769}, std::size_t{300000}}) {
    std::string content = randomBytes(size, 2);
    auto job = fetchToMemory(HttpScript().send(ok(content, false)));
    auto file = fetchOverOldFile(HttpScript().send(ok(content, false)));
    if (size != 32768) {
      EXPECT_EQ(job->status, statusCode(DownloadStatus::LengthMissing)) << size;
      EXPECT_FALSE(job->isComplete()) << size;
      EXPECT_EQ(file->status, statusCode(DownloadStatus::LengthMissing)) << size;
      expectOldFileKept();
      continue;
    }
    ASSERT_TRUE(job->isComplete());
    EXPECT_TRUE(body(*job) == content);
    EXPECT_EQ(job->bufferStart[size], '\0');
    ASSERT_TRUE(file->isComplete());
    EXPECT_EQ(file->expectedLength, 32768);
    EXPECT_TRUE(testsupport::readFile(destination) == content);
  }
}

// The body's SHA-256 in hex, as a signed list's version token gives it.
std::string hexDigest(const std::string& body) {
  platform::Sha256 hash;
  hash.update(body.data(), body.size());
  platform::Sha256Digest digest{};
  EXPECT_TRUE(hash.finish(digest));
  std::string hex;
  for (std::uint8_t byte : digest) hex += "0123456789abcdef"[byte >> 4] + std::string(1, "0123456789abcdef"[byte & 15]);
  return hex;
}

TEST_F(DownloadJob, AFileTakesItsPlaceOnlyAtTheSizeTheListGivesIt) {
  struct Answer {
    std::string response;
    std::uint32_t listed;
    std::int32_t status;
    bool signedEntry = false;  // with the digest of a signed list's entry
    bool sideFileMade = true;  // false: refused at the header, nothing written
  };
  const std::string page = "<html>Welcome to the hotel. Log in to continue.</html>";
  const std::string full = randomBytes(40000, 3);
  const std::vector<Answer> answers = {
      // A login page, a whole answer of its own length.
      {ok(page), 40000, statusCode(DownloadStatus::SizeMismatch), false, false},
      // A body without a length, cut at the one length such a body may have.
      {ok(full.substr(0, 32768), false), 40000, statusCode(DownloadStatus::SizeMismatch)},
      {ok(""), 40000, statusCode(DownloadStatus::SizeMismatch), false, false},
      {ok(full), 39999, statusCode(DownloadStatus::SizeMismatch), false, false},
      {ok(full), 40000, 0},
      {ok(""), 0, 0},
      // In every build an announced length of its own is refused before the
      // body (512 MiB here); a signed entry's size is a promise besides: a
      // body without a length stops at the listed size.
      {"HTTP/1.0 200 OK\r\nContent-Length: 536870912\r\n\r\n" + full, 40000, statusCode(DownloadStatus::SizeMismatch),
       false, false},
      {ok(full + full, false), 40000, statusCode(DownloadStatus::LengthMissing), true},
      {ok(full, false), 40000, 0, true},
      {ok(full), 40000, 0, true},
  };
  for (const Answer& answer : answers) {
    SCOPED_TRACE(answer.response.substr(0, 60));
    HttpScript script = HttpScript().send(answer.response);
    // The refused answers keep sending until they are cut off.
    if (!answer.sideFileMade) script.holdOpen();
    auto job = fetchOverOldFile(script, answer.listed, answer.signedEntry ? hexDigest(full) : "");
    EXPECT_EQ(job->status, answer.status);
    if (!answer.sideFileMade) {
      EXPECT_EQ(job->received.load(), 0u) << "no body byte was stored";
    }
    EXPECT_EQ(job->isComplete(), answer.status == 0);
    if (answer.status != 0) {
      expectOldFileKept();
    } else {
      EXPECT_EQ(std::filesystem::file_size(destination), answer.listed);
    }
  }
}

// A body kept in memory is bounded by its job (a signature's answer reads
// 4 KiB at most), whatever length the server announces.
TEST_F(DownloadJob, AMemoryBodyIsBoundedByItsJob) {
  const std::string url = "127.0.0.1/updates/version_list.sig";
  auto huge = fetch(HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 134217728\r\n\r\n").holdOpen(), url, "",
                    std::nullopt, "", 4096);
  EXPECT_EQ(huge->status, statusCode(DownloadStatus::BodyTooLarge));
  EXPECT_EQ(huge->bufferStart, nullptr) << "nothing was taken for it";
  auto fits = fetch(HttpScript().send(ok(std::string(4096, 's'))), url, "", std::nullopt, "", 4096);
  ASSERT_TRUE(fits->isComplete());
  EXPECT_EQ(body(*fits), std::string(4096, 's'));
}

TEST_F(DownloadJob, UrlTheRequestLineCannotCarryIsRefusedUnsent) {
  TestHttpServer server(TestHttpServer::always(HttpScript().send(ok("x"))));
  const std::string urls[] = {"127.0.0.1/a\r\nX-Injected: 1", "127.0.0.1/a\tb", std::string("127.0.0.1/a\0b", 13),
                              "127.0.0.1/\x7f", "127.0.0.1/a\nb",
                              // A host name holds neither a blank nor a byte above ASCII.
                              "127.0.0.1 /a", "h\xf6st/a"};
  for (const std::string& url : urls) {
    auto job = std::make_unique<cStreamingFile>(url, destination.string());
    ASSERT_TRUE(jobEnded(*job));
    EXPECT_EQ(job->status, statusCode(DownloadStatus::UrlRefused)) << url;
  }
  EXPECT_TRUE(server.requests().empty());
  EXPECT_FALSE(std::filesystem::exists(destination));
}

TEST_F(DownloadJob, BlanksHashesAndBytesAboveAsciiArePercentEncodedInTheTarget) {
  // A name in UTF-8, one in a Windows code page, a blank and a "#" in the
  // update base's path; the list's own escapes go out as they are.
  // A "%" that starts no escape is sent as "%25".
  auto job =
      fetch(HttpScript().send(ok("x")), "127.0.0.1/my games/#1/Ping\xc3\xbcino M\xfcller%f1%21 100%%2x%4.png%", "");
  ASSERT_TRUE(job->isComplete());
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")),
            "GET http://127.0.0.1/my%20games/%231/Ping%C3%BCino%20M%FCller%f1%21%20100%25%252x%254.png%25 HTTP/1.0");
}

TEST_F(DownloadJob, ASilentServerEndsTheJobButASlowOneDoesNot) {
  // Each receive may wait 1.5 s; the trickle below pauses 0.4 s between
  // pieces and takes well over 1.5 s in all.
  net::ScopedTransferLimits limits({20000, 1500});
  std::string content = randomBytes(60000, 9);
  auto silent = fetchOverOldFile(HttpScript().holdOpen());
  EXPECT_EQ(silent->status, platform::kWsaEtimedout);
  expectOldFileKept();
  auto stopped = fetchOverOldFile(HttpScript().send(ok(content).substr(0, 20000)).holdOpen());
  EXPECT_EQ(stopped->status, platform::kWsaEtimedout);
  expectOldFileKept();

  HttpScript slow;
  slow.send("HTTP/1.0 200 OK\r\nContent-Length: 60000\r\n\r\n");
  for (std::size_t at = 0; at < content.size(); at += 10000)
    slow.stall(std::chrono::milliseconds(400)).send(content.substr(at, 10000));
  auto moving = fetchOverOldFile(slow);
  ASSERT_TRUE(moving->isComplete()) << moving->status;
  EXPECT_TRUE(testsupport::readFile(destination) == content);
}

TEST_F(DownloadJob, AServerThatStarvesTheTransferEndsItAsAStall) {
  // Every receive is answered in time, but no window of 0.3 s can bring
  // 4 KiB: 200 bytes in all, however the machine schedules the drip.
  net::ScopedTransferLimits limits({20000, 1500, 300, 4096});
  HttpScript drip;
  drip.send("HTTP/1.0 200 OK\r\nContent-Length: 60000\r\n\r\n");
  for (int i = 0; i < 200; ++i) drip.stall(std::chrono::milliseconds(50)).send("x");
  auto starved = fetchOverOldFile(drip);
  EXPECT_EQ(starved->status, platform::kWsaEtimedout);
  expectOldFileKept();
}

TEST(ProgressWindow, EachWindowMustBringItsBytes) {
  using std::chrono::milliseconds;
  const net::TransferLimits limits{1000, 1000, 60000, 4096};
  const net::ProgressWindow::Clock::time_point start{};
  struct Case {
    const char* what;
    std::vector<std::pair<int, std::uint32_t>> arrivals;  // ms after the start, bytes
    bool keepsGoing;
  };
  const Case cases[] = {
      {"a 56 kbit/s link", {{1000, 7000}, {30000, 7000}, {61000, 7000}, {125000, 7000}}, true},
      {"few bytes within the first window", {{10, 100}, {59999, 100}}, true},
      {"a window that brought too little", {{10, 4095}, {60000, 1}}, false},
      {"a byte every 5 s", {{5000, 1}, {10000, 1}, {60000, 1}}, false},
      {"a window that brought enough, then one that did not",
       {{30000, 4096}, {60000, 10}, {90000, 10}, {120000, 10}},
       false},
      {"bytes only after a long silence", {{200000, 4096}}, false},
      // 4 KiB, then a byte every 29 s, for an 87-second rhythm: each window
      // stretched to the next arrival would pass at 47 bytes a second.
      {"windows stretched by late arrivals",
       {{0, 4096},
        {29000, 1},
        {58000, 1},
        {87000, 4096},
        {116000, 1},
        {145000, 1},
        {174000, 4096},
        {203000, 1},
        {232000, 1},
        {261000, 4096}},
       false},
  };
  for (const Case& c : cases) {
    net::ProgressWindow window(limits, start);
    bool going = true;
    for (const auto& [ms, bytes] : c.arrivals) going = going && window.arrived(bytes, start + milliseconds(ms));
    EXPECT_EQ(going, c.keepsGoing) << c.what;
  }
}

TEST_F(DownloadJob, EmptyBodyIsACompleteJob) {
  auto memory = fetchToMemory(HttpScript().send(ok("")));
  ASSERT_TRUE(memory->isComplete());
  EXPECT_EQ(memory->expectedLength, 0);
  ASSERT_NE(memory->bufferStart, nullptr);
  EXPECT_EQ(memory->bufferStart[0], '\0');

  auto file = fetchOverOldFile(HttpScript().send(ok("")));
  ASSERT_TRUE(file->isComplete());
  EXPECT_TRUE(std::filesystem::exists(destination));
  EXPECT_EQ(testsupport::readFile(destination), "");
  EXPECT_EQ(filesInFolder(), std::set<std::string>{"game.pak"});
}

TEST_F(DownloadJob, HeaderAndBodyArriveInPieces) {
  // Split inside the status line, inside the length, and inside the blank
  // line; each piece is read before the next is sent.
  auto job = fetchOverOldFile(HttpScript()
                                  .send("HTTP/1.0 2")
                                  .awaitClientRead()
                                  .send("00 OK\r\nContent-Len")
                                  .awaitClientRead()
                                  .send("gth: 11\r\n\r")
                                  .awaitClientRead()
                                  .send("\nhello")
                                  .awaitClientRead()
                                  .send(" world"));
  ASSERT_TRUE(job->isComplete());
  EXPECT_EQ(job->received, 11u);
  EXPECT_EQ(testsupport::readFile(destination), "hello world");

  // A header far longer than one receive.
  std::string filler;
  for (int i = 0; filler.size() < 20000; ++i) filler += "X-Filler-" + std::to_string(i) + ": some value\r\n";
  auto longHeader = fetchToMemory(HttpScript().send("HTTP/1.1 200 OK\r\n" + filler + "Content-Length: 4\r\n\r\nbody"));
  ASSERT_TRUE(longHeader->isComplete());
  EXPECT_EQ(body(*longHeader), "body");
}

TEST_F(DownloadJob, HeaderBeyondTheBoundIsRefused) {
  std::string filler;
  while (filler.size() <= kMaxHeaderBytes) filler += "X-Filler: " + std::string(100, 'f') + "\r\n";
  auto job = fetchOverOldFile(HttpScript().send("HTTP/1.0 200 OK\r\n" + filler + "Content-Length: 1\r\n\r\nx"));
  EXPECT_EQ(job->status, statusCode(DownloadStatus::BadResponse));
  expectOldFileKept();
  // A header that never ends fails the same way once the bound is reached,
  // without waiting for the server to close.
  auto endless = fetchToMemory(HttpScript().send("HTTP/1.0 200 OK\r\n" + filler).holdOpen());
  EXPECT_EQ(endless->status, statusCode(DownloadStatus::BadResponse));
}

TEST_F(DownloadJob, ResetMidBodyReportsTheSocketErrorAndKeepsTheOldFile) {
  std::string content = randomBytes(100000, 3);
  auto job = fetchOverOldFile(HttpScript().send(ok(content).substr(0, 50000)).awaitClientRead().reset());
  EXPECT_EQ(job->status, platform::kWsaEconnreset);
  EXPECT_FALSE(job->isComplete());
  expectOldFileKept();
}

TEST_F(DownloadJob, EarlyCloseFailsAndKeepsTheOldFile) {
  std::string response = ok(randomBytes(100000, 4));
  auto job = fetchOverOldFile(HttpScript().send(response.substr(0, response.size() - 1)));
  EXPECT_EQ(job->status, statusCode(DownloadStatus::BodyTruncated));
  EXPECT_EQ(job->received, 99999u);
  expectOldFileKept();

  auto memory = fetchToMemory(HttpScript().send(response.substr(0, 1000)));
  EXPECT_EQ(memory->status, statusCode(DownloadStatus::BodyTruncated));
  EXPECT_FALSE(memory->isComplete());
}

TEST_F(DownloadJob, BodyLongerThanAnnouncedFails) {
  std::string content = randomBytes(5000, 5);
  std::string response = "HTTP/1.0 200 OK\r\nContent-Length: 4000\r\n\r\n" + content;
  auto file = fetchOverOldFile(HttpScript().send(response));
  EXPECT_EQ(file->status, statusCode(DownloadStatus::BodyOverlong));
  expectOldFileKept();

  // In memory the extra bytes come in a later receive than the header, so
  // they meet a buffer that is already full.
  auto memory = fetchToMemory(
      HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 4000\r\n\r\n").awaitClientRead().send(content));
  EXPECT_EQ(memory->status, statusCode(DownloadStatus::BodyOverlong));
  EXPECT_FALSE(memory->isComplete());
  EXPECT_LE(memory->received, 4000u);
}

TEST_F(DownloadJob, LengthsTheDestinationCannotHoldAreRefused) {
  auto negative = fetchOverOldFile(HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n"));
  EXPECT_EQ(negative->status, statusCode(DownloadStatus::LengthInvalid));
  expectOldFileKept();

  auto huge = fetchOverOldFile(HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 4294967296\r\n\r\nx"));
  EXPECT_EQ(huge->status, statusCode(DownloadStatus::BodyTooLarge));
  expectOldFileKept();

  std::string oversize = std::to_string(kMaxMemoryBody + 1);
  auto memory = fetchToMemory(HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: " + oversize + "\r\n\r\nx"));
  EXPECT_EQ(memory->status, statusCode(DownloadStatus::BodyTooLarge));
  EXPECT_EQ(memory->bufferStart, nullptr);
}

TEST_F(DownloadJob, DestinationThatCannotBeWrittenFails) {
  auto missingFolder = fetch(HttpScript().send(ok("data")), "127.0.0.1/a", (dir / "no" / "such" / "file").string());
  EXPECT_EQ(missingFolder->status, statusCode(DownloadStatus::DestinationFailed));

  // A folder where the file should go: the body arrives but cannot replace
  // it, and the side file does not stay.
  std::filesystem::create_directory(dir / "folder");
  auto folder = fetch(HttpScript().send(ok("data")), "127.0.0.1/a", (dir / "folder").string());
  EXPECT_EQ(folder->status, statusCode(DownloadStatus::DestinationFailed));
  EXPECT_EQ(filesInFolder(), std::set<std::string>{"folder"});
}

TEST_F(DownloadJob, ProgressIsPublishedButCompletionWaitsForTheEndOfTheStream) {
  std::string content = randomBytes(10000, 6);
  std::unique_ptr<cStreamingFile> job;
  {
    // Declared after the job, so it goes first and its close ends the job.
    TestHttpServer server(TestHttpServer::always(HttpScript().send(ok(content)).holdOpen()));
    ASSERT_TRUE(server.listening());
    job = std::make_unique<cStreamingFile>("127.0.0.1/f", "");
    ASSERT_TRUE(testsupport::jobReceived(*job, 10000));
    EXPECT_EQ(job->expectedLength, 10000);
    EXPECT_EQ(job->status, 0);
    EXPECT_FALSE(job->isComplete());
  }
  ASSERT_TRUE(jobEnded(*job));
  EXPECT_TRUE(job->isComplete());
  EXPECT_TRUE(body(*job) == content);
}

TEST_F(DownloadJob, ConnectionFailuresHaveTheirOwnCodes) {
  // Nobody listens.
  auto refused = std::make_unique<cStreamingFile>("127.0.0.1/a", destination.string());
  ASSERT_TRUE(jobEnded(*refused));
  EXPECT_EQ(refused->status, statusCode(DownloadStatus::ConnectFailed));
  EXPECT_FALSE(std::filesystem::exists(destination));

  TestHttpServer server(TestHttpServer::always(HttpScript().send(ok("x"))));
  // The port is always 80, so a port in the url is part of a name that does
  // not resolve; so is a name nobody knows.
  for (const char* url : {"127.0.0.1:80/a", "no-such-host.invalid/a", "/a"}) {
    auto job = std::make_unique<cStreamingFile>(url, destination.string());
    ASSERT_TRUE(jobEnded(*job)) << url;
    EXPECT_EQ(job->status, statusCode(DownloadStatus::HostNotFound)) << url;
  }
  EXPECT_TRUE(server.requests().empty());
  EXPECT_FALSE(std::filesystem::exists(destination));
}

TEST_F(DownloadJob, HostsResolveByAddressOrByName) {
  // Any loopback address serves; the Host header names what the url named.
  TestHttpServer other(TestHttpServer::always(HttpScript().send(ok("two"))), "127.0.0.2");
  ASSERT_TRUE(other.listening());
  auto numeric = std::make_unique<cStreamingFile>("127.0.0.2/a", "");
  ASSERT_TRUE(jobEnded(*numeric));
  EXPECT_EQ(body(*numeric), "two");

  auto named = fetch(HttpScript().send(ok("one")), "localhost/a", "");
  ASSERT_TRUE(named->isComplete());
  EXPECT_EQ(body(*named), "one");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].find("\r\nHost: localhost\r\n"), std::string::npos);
}

TEST_F(DownloadJob, ServesAMapOfFilesForOtherTests) {
  TestHttpServer server(TestHttpServer::serving({{"/updates/version_list.txt", "a 1 1\n"}}));
  auto found = std::make_unique<cStreamingFile>("127.0.0.1/updates/version_list.txt", "");
  auto missing = std::make_unique<cStreamingFile>("127.0.0.1/updates/missing.txt", "");
  ASSERT_TRUE(jobEnded(*found));
  ASSERT_TRUE(jobEnded(*missing));
  EXPECT_EQ(body(*found), "a 1 1\n");
  EXPECT_EQ(missing->status, statusCode(DownloadStatus::BadResponse));
}

TEST(DownloadJobLifetime, DeletingAFinishedJobReleasesEverything) {
  // Many jobs in parallel, each deleted by another thread than its worker;
  // the sanitizers see every buffer freed and every thread joined.
  TestHttpServer server(TestHttpServer::always(HttpScript().send(ok(randomBytes(3000, 7)))));
  std::vector<std::unique_ptr<cStreamingFile>> jobs;
  for (int i = 0; i < 8; ++i) jobs.push_back(std::make_unique<cStreamingFile>("127.0.0.1/f", ""));
  for (auto& job : jobs) {
    ASSERT_TRUE(jobEnded(*job));
    EXPECT_TRUE(job->isComplete());
  }
  jobs.clear();
  EXPECT_EQ(server.requests().size(), 8u);
}

}  // namespace
