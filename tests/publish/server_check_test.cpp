// glimmerhold-publish --check-server against servers that misbehave on
// purpose: nginx configured to redirect, cache or answer with a login page,
// and the scripted test server for what nginx never does to an HTTP/1.0
// request (chunk, compress, drop the length, stall, refuse the absolute
// form). Each case names the fault line the check must print.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "net/http_get.h"
#include "net/transfer_limits.h"
#include "publish.h"
#include "support/static_server.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "update/version_list.h"

namespace {

namespace fs = std::filesystem;
using testsupport::httpResponse;
using testsupport::HttpScript;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::TestHttpServer;
using testsupport::writeFile;

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome checkWith(std::vector<std::string> arguments) {
  std::vector<const char*> argv{"glimmerhold-publish", "--check-server"};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  std::ostringstream out, err;
  int code = publish::publishMain(static_cast<int>(argv.size()), argv.data(), out, err);
  return {code, out.str(), err.str()};
}

std::string bigFile() {
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>((i * 131) % 251);
  return bytes;
}

class ServerCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(scratch_ / "release" / "big.bin", bigFile());
    writeFile(scratch_ / "release" / "sub" /
                  "Espa\xc3\xb1"
                  "a.txt",
              "small\n");
    publishInto(served());
  }

  void publishInto(const fs::path& folder) {
    std::ostringstream out, err;
    ASSERT_EQ(publish::publishRelease({scratch_ / "release", folder, false, false}, out, err), publish::kDone)
        << err.str();
  }

  fs::path served() const { return scratch_ / "www" / "up"; }
  std::string list() const { return readFile(served() / update::kVersionListName); }

  TempDir scratch_;
};

// ---- What nginx can be made to do ----------------------------------------

struct NginxCase {
  const char* folder;
  bool againstChangedRelease;
  int code;
  const char* line;
};

TEST_F(ServerCheckTest, FindsWhatAMisconfiguredNginxDoes) {
  // A second publish of a changed release: the server still has the first.
  writeFile(scratch_ / "release" / "big.bin", bigFile() + "more");
  const fs::path newer = scratch_ / "newer";
  publishInto(newer);
  const std::string root = (scratch_ / "www").string();
  testsupport::NginxServer server(scratch_ / "www", "127.0.0.1",
                                  "    location /moved/ { return 301 http://127.0.0.1/up/; }\n"
                                  "    location /cached/ { alias " +
                                      root +
                                      "/up/; expires 1d; add_header Age 300; }\n"
                                      "    location /portal/ { default_type text/html; return 200 "
                                      "\"<html><body>Log in</body></html>\"; }\n");
  ASSERT_TRUE(server.running()) << server.errorLog();
  const NginxCase cases[] = {
      {"up", false, 0, "the list and 2 of 2 files; 0 faults"},
      {"moved", false, 1,
       "FAULT: version_list.txt: answered \"HTTP/1.1 301 Moved Permanently\" to http://127.0.0.1/up/; the launcher "
       "does not follow redirects"},
      {"cached", false, 0, "warning: version_list.txt: came from a cache (\"Age: 300\")"},
      {"cached", false, 0, "warning: version_list.txt: may be cached for 86400 s"},
      {"portal", false, 1, "FAULT: version_list.txt: not a version list but an HTML page"},
      {"nope", false, 1, "FAULT: version_list.txt: answered \"HTTP/1.1 404 Not Found\", in both request forms"},
      {"up", true, 1, "FAULT: version_list.txt: the server's list is not the published one"},
  };
  for (const NginxCase& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + ": " + c.line);
    std::vector<std::string> arguments{std::string("http://127.0.0.1/") + c.folder + "/"};
    if (c.againstChangedRelease) arguments.insert(arguments.end(), {"--against", newer.string()});
    const Outcome outcome = checkWith(arguments);
    EXPECT_EQ(outcome.code, c.code) << outcome.out << outcome.err;
    EXPECT_NE(outcome.out.find(c.line), std::string::npos) << outcome.out << outcome.err;
  }
  // Served as published: nothing wrong, the list's signature absent on both.
  const Outcome good = checkWith({"http://127.0.0.1/up/", "--against", served().string()});
  EXPECT_EQ(good.code, 0) << good.out;
  EXPECT_EQ(good.out.find("FAULT"), std::string::npos) << good.out;
}

// ---- What the scripted server does ---------------------------------------

struct ScriptedCase {
  const char* name;
  // The answer to a request for big.bin (`body` is the file); the list and
  // the other file are served right.
  std::function<HttpScript(const std::string& request, const std::string& body)> answer;
  const char* line;
};

TEST_F(ServerCheckTest, FindsWhatABrokenServerOrCacheDoes) {
  const std::string html = "<html><body>Please log in</body></html>";
  const ScriptedCase cases[] = {
      {"absolute form refused",
       [](const std::string& request, const std::string& body) {
         return HttpScript().send(request.rfind("GET http://", 0) == 0 ? httpResponse("HTTP/1.0 404 Not Found", "")
                                                                       : httpResponse("HTTP/1.0 200 OK", body));
       },
       "FAULT: big.bin: answered \"HTTP/1.0 404 Not Found\" to the launcher's absolute-form request"},
      {"chunked",
       [](const std::string&, const std::string& body) {
         return HttpScript().send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1388\r\n" + body +
                                  "\r\n0\r\n\r\n");
       },
       "FAULT: big.bin: sent with \"Transfer-Encoding: chunked\""},
      {"compressed",
       [](const std::string&, const std::string&) {
         return HttpScript().send("HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 3\r\n\r\n\x1f\x8b\x08");
       },
       "FAULT: big.bin: sent with \"Content-Encoding: gzip\""},
      {"no length",
       [](const std::string&, const std::string& body) {
         return HttpScript().send(httpResponse("HTTP/1.0 200 OK", body, false));
       },
       "FAULT: big.bin: no \"Content-Length: \" header"},
      {"another length",
       [](const std::string&, const std::string& body) {
         return HttpScript().send(httpResponse("HTTP/1.0 200 OK", body + "x"));
       },
       "FAULT: big.bin: Content-Length is 5001 bytes, the list gives 5000"},
      {"portal page of the file's size",
       [html](const std::string&, const std::string& body) {
         return HttpScript().send(httpResponse("HTTP/1.0 200 OK", html + std::string(body.size() - html.size(), ' ')));
       },
       "FAULT: big.bin: the body is not the published file (an HTML page"},
      {"cut short",
       [](const std::string&, const std::string& body) {
         return HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + body.substr(0, 100));
       },
       "FAULT: big.bin: the body ended after 100 of the 5000 bytes announced"},
      {"run past",
       [](const std::string&, const std::string& body) {
         return HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + body + "and more");
       },
       "FAULT: big.bin: the body ran past the 5000 bytes announced"},
      {"no reason phrase",
       [](const std::string&, const std::string& body) {
         return HttpScript().send(httpResponse("HTTP/1.1 200", body));
       },
       "FAULT: big.bin: the status line \"HTTP/1.1 200\" does not read \"200 OK\""},
      {"header longer than the launcher reads",
       [](const std::string&, const std::string& body) {
         return HttpScript().send("HTTP/1.0 200 OK\r\nSet-Cookie: " + std::string(70 * 1024, 'c') +
                                  "\r\nContent-Length: 5000\r\n\r\n" + body);
       },
       "FAULT: big.bin: the header runs past the 64 KiB the launcher reads"},
      {"stall",
       [](const std::string&, const std::string&) {
         return HttpScript().send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\nabc").holdOpen();
       },
       "FAULT: big.bin: the answer stalled"},
  };
  const std::string listed = list();
  const std::string big = bigFile();
  // Short enough that the stall ends soon; a held connection never answers.
  net::ScopedTransferLimits limits({20000, 1000});
  for (const ScriptedCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server([&](const std::string& request) {
      const std::string path = TestHttpServer::requestPath(request);
      if (path == "/up/version_list.txt") return HttpScript().send(httpResponse("HTTP/1.0 200 OK", listed));
      if (path == "/up/version_list.sig") return HttpScript().send(httpResponse("HTTP/1.0 404 Not Found", ""));
      if (path == "/up/big.bin") return c.answer(request, big);
      return HttpScript().send(httpResponse("HTTP/1.0 200 OK", "small\n"));
    });
    ASSERT_TRUE(server.listening());
    const Outcome outcome = checkWith({"http://127.0.0.1/up/"});
    EXPECT_EQ(outcome.code, 1) << outcome.out << outcome.err;
    EXPECT_NE(outcome.out.find(c.line), std::string::npos) << outcome.out << outcome.err;
    // Only the faulty file is faulted: the other one was fine.
    EXPECT_EQ(outcome.out.find("FAULT: sub/"), std::string::npos) << outcome.out;
  }
}

TEST_F(ServerCheckTest, SendsTheLaunchersRequestsByteForByte) {
  // A line the launcher skips is worth a warning, not a fault; so is a name
  // it refuses, never asked for (though the largest file).
  const std::string listed = list() + "<p>moved</p>\n../outside.bin 0123456789abcdef0123456789abcdef 9000\n";
  TestHttpServer server(TestHttpServer::servingUpdates("/up/", listed, {{"big.bin", bigFile()}}));
  ASSERT_TRUE(server.listening());
  const Outcome outcome = checkWith({"http://127.0.0.1/up/", "--sample", "1"});
  EXPECT_EQ(outcome.code, 0) << outcome.out << outcome.err;
  EXPECT_NE(outcome.out.find("the list and 1 of 2 files"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("warning: version_list.txt: 1 line is not an entry"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("warning: ../outside.bin: the launcher does not install this name"), std::string::npos)
      << outcome.out;
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], net::httpRequestText("127.0.0.1/up/version_list.txt"));
  EXPECT_EQ(requests[1], net::httpRequestText("127.0.0.1/up/version_list.sig"));
  // The sample of one is the largest file.
  EXPECT_EQ(requests[2], net::httpRequestText("127.0.0.1/up/big.bin"));
}

TEST_F(ServerCheckTest, RefusesABaseTheLauncherCannotUse) {
  for (const char* url : {"https://127.0.0.1/up/", "http://127.0.0.1:8080/up/", "127.0.0.1/up/", "http:///up/",
                          "http://127.0.0.1/up\r\nX: y/"}) {
    SCOPED_TRACE(url);
    EXPECT_EQ(checkWith({url}).code, publish::kUsage);
  }
  EXPECT_EQ(checkWith({"http://127.0.0.1/up/", "--sample", "0"}).code, publish::kUsage);
  EXPECT_EQ(checkWith({"http://127.0.0.1/up/", "--against", (scratch_ / "none").string()}).code, publish::kFailed);
}

}  // namespace
