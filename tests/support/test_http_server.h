// A small HTTP server for tests, scripted per connection and able to break
// the rules on purpose: it sends what it is told, in the pieces it is told,
// then closes, resets or holds the connection. It records every request
// exactly as it arrived.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testsupport {

// What the server does on one connection once it has read the request.
class HttpScript {
 public:
  struct Step {
    enum class Kind { Send, Trickle, Stall, AwaitClientRead, Reset, HoldOpen };
    Kind kind;
    std::string bytes;
    std::chrono::milliseconds pause{0};
  };

  HttpScript& send(std::string bytes);
  // Sends the bytes one at a time, each only after the client has read the
  // one before, so that every receive of the client gets a single byte.
  HttpScript& trickle(std::string bytes);
  // Sends nothing for this long (less if the server stops), then goes on.
  HttpScript& stall(std::chrono::milliseconds pause);
  // Waits until the client has read everything sent so far, so that what is
  // sent next reaches it in a receive of its own.
  HttpScript& awaitClientRead();
  // Ends with a reset (SO_LINGER 0, then close): the client's next receive
  // fails with "connection reset".
  HttpScript& reset();
  // Ends by keeping the connection open and silent until the server stops.
  HttpScript& holdOpen();
  // A script that ends in none of those closes the connection normally.

  const std::vector<Step>& steps() const { return steps_; }

 private:
  std::vector<Step> steps_;
};

// A whole response: the status line, a Content-Length header unless
// `withLength` is false, the blank line and the body.
std::string httpResponse(std::string_view statusLine, std::string_view body, bool withLength = true);

class TestHttpServer {
 public:
  using Responder = std::function<HttpScript(const std::string& request)>;

  // The same script for every connection.
  static Responder always(HttpScript script);
  // Serves files by request path ("/updates/version_list.txt"), with
  // Content-Length; anything else is a 404.
  static Responder serving(std::map<std::string, std::string> files);
  // Serves an update folder ("/up/"): its "version_list.txt" and the files
  // by their names in it.
  static Responder servingUpdates(const std::string& folder, const std::string& list,
                                  const std::map<std::string, std::string>& files);
  // The path of a request line, absolute form ("GET http://host/path ...")
  // or origin form ("GET /path ...").
  static std::string requestPath(const std::string& request);

  // Listens on address:port at once; listening() tells whether it could.
  explicit TestHttpServer(Responder responder, const std::string& address = "127.0.0.1", std::uint16_t port = 80);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  bool listening() const { return listener_ != kNoSocket; }

  // Every request so far, byte for byte, in arrival order.
  std::vector<std::string> requests() const;
  // Waits until `count` requests have arrived; false when the limit passed.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

  // Closes every connection and ends every thread. The destructor does it too.
  void stop();

 private:
  // A socket descriptor on POSIX, a SOCKET on Windows.
  using Socket = std::intptr_t;
  static constexpr Socket kNoSocket = -1;

  void acceptLoop();
  void serve(Socket connection);
  void runScript(Socket connection, const HttpScript& script);
  bool awaitClientRead(Socket connection);

  Responder responder_;
  bool socketsStarted_ = false;
  Socket listener_ = kNoSocket;
  std::thread acceptor_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::vector<std::string> requests_;
  std::set<Socket> open_;
  std::vector<std::thread> connections_;
};

}  // namespace testsupport
