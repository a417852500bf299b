#include "support/test_http_server.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "support/tcp_table.h"

namespace testsupport {

namespace {

constexpr std::size_t kMaxRequest = 64 * 1024;

// The few calls whose shape differs between Windows Sockets and POSIX.
#if defined(_WIN32)
using NativeSocket = SOCKET;
using AddressSize = int;
constexpr int kNoSignal = 0;
constexpr int kShutBoth = SD_BOTH;
constexpr int kShutSend = SD_SEND;
void closeNative(NativeSocket socket) { ::closesocket(socket); }
#else
using NativeSocket = int;
using AddressSize = socklen_t;
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kShutSend = SHUT_WR;
void closeNative(NativeSocket socket) { ::close(socket); }
#endif

NativeSocket native(std::intptr_t socket) { return static_cast<NativeSocket>(socket); }

int sendSome(std::intptr_t connection, std::string_view bytes) {
  int size = bytes.size() > 1u << 30 ? 1 << 30 : static_cast<int>(bytes.size());
  return static_cast<int>(::send(native(connection), bytes.data(), size, kNoSignal));
}

int receiveSome(std::intptr_t connection, char* buffer, int size) {
  return static_cast<int>(::recv(native(connection), buffer, size, 0));
}

void sendAll(std::intptr_t connection, std::string_view bytes) {
  while (!bytes.empty()) {
    int n = sendSome(connection, bytes);
    if (n <= 0) return;  // the client has gone: nothing more to say
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Reads until the blank line that ends a request, the end of the stream, or
// a size no test request reaches.
std::string readRequest(std::intptr_t connection) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequest) {
    int n = receiveSome(connection, buffer, sizeof buffer);
    if (n <= 0) break;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  return request;
}

}  // namespace

HttpScript& HttpScript::send(std::string bytes) {
  steps_.push_back({Step::Kind::Send, std::move(bytes)});
  return *this;
}

HttpScript& HttpScript::trickle(std::string bytes) {
  steps_.push_back({Step::Kind::Trickle, std::move(bytes)});
  return *this;
}

HttpScript& HttpScript::stall(std::chrono::milliseconds pause) {
  steps_.push_back({Step::Kind::Stall, {}, pause});
  return *this;
}

HttpScript& HttpScript::awaitClientRead() {
  steps_.push_back({Step::Kind::AwaitClientRead, {}});
  return *this;
}

HttpScript& HttpScript::reset() {
  steps_.push_back({Step::Kind::Reset, {}});
  return *this;
}

HttpScript& HttpScript::holdOpen() {
  steps_.push_back({Step::Kind::HoldOpen, {}});
  return *this;
}

std::string httpResponse(std::string_view statusLine, std::string_view body, bool withLength) {
  std::string response(statusLine);
  response += "\r\n";
  if (withLength) response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  response += "\r\n";
  response += body;
  return response;
}

TestHttpServer::Responder TestHttpServer::always(HttpScript script) {
  return [script](const std::string&) { return script; };
}

TestHttpServer::Responder TestHttpServer::serving(std::map<std::string, std::string> files) {
  return [files = std::move(files)](const std::string& request) {
    auto file = files.find(requestPath(request));
    if (file == files.end()) return HttpScript().send(httpResponse("HTTP/1.0 404 Not Found", ""));
    return HttpScript().send(httpResponse("HTTP/1.0 200 OK", file->second));
  };
}

TestHttpServer::Responder TestHttpServer::servingUpdates(const std::string& folder, const std::string& list,
                                                         const std::map<std::string, std::string>& files) {
  std::map<std::string, std::string> paths{{folder + "version_list.txt", list}};
  for (const auto& [name, bytes] : files) paths[folder + name] = bytes;
  return serving(std::move(paths));
}

std::string TestHttpServer::requestPath(const std::string& request) {
  std::size_t start = request.find(' ');
  if (start == std::string::npos) return {};
  std::size_t end = request.find(' ', start + 1);
  std::string target = request.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
  constexpr std::string_view kScheme = "http://";
  if (target.compare(0, kScheme.size(), kScheme) == 0) {
    std::size_t path = target.find('/', kScheme.size());
    return path == std::string::npos ? "/" : target.substr(path);
  }
  return target;
}

TestHttpServer::TestHttpServer(Responder responder, const std::string& address, std::uint16_t port)
    : responder_(std::move(responder)) {
#if defined(_WIN32)
  WSADATA data;
  socketsStarted_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!socketsStarted_) return;
  NativeSocket listener = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listener == INVALID_SOCKET) return;
  // Windows lets a second listener take a port with SO_REUSEADDR; exclusive
  // use is what a test server wants there.
  BOOL exclusive = TRUE;
  ::setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
#else
  NativeSocket listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return;
  int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(port);
  bound.sin_addr.s_addr = ::inet_addr(address.c_str());
  if (::bind(listener, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 || ::listen(listener, 16) != 0) {
    closeNative(listener);
    return;
  }
  listener_ = static_cast<Socket>(listener);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() { stop(); }

void TestHttpServer::stop() {
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_) return;
    stopping_ = true;
    // Wakes every thread blocked on these sockets; each connection thread
    // closes its own. A listening socket is woken by shutdown on POSIX and
    // only by closing it on Windows.
    if (listener_ != kNoSocket) {
#if defined(_WIN32)
      closeNative(native(listener_));
#else
      ::shutdown(native(listener_), kShutBoth);
#endif
    }
    for (Socket connection : open_) ::shutdown(native(connection), kShutBoth);
  }
  changed_.notify_all();
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& connection : connections) connection.join();
#if defined(_WIN32)
  if (socketsStarted_) ::WSACleanup();
#else
  if (listener_ != kNoSocket) closeNative(native(listener_));
#endif
}

void TestHttpServer::acceptLoop() {
  for (;;) {
#if defined(_WIN32)
    NativeSocket accepted = ::accept(native(listener_), nullptr, nullptr);
    Socket connection = accepted == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(accepted);
#else
    Socket connection = ::accept4(native(listener_), nullptr, nullptr, SOCK_CLOEXEC);
#endif
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_) {
      if (connection != kNoSocket) closeNative(native(connection));
      return;
    }
    if (connection == kNoSocket) continue;
    open_.insert(connection);
    connections_.emplace_back([this, connection] { serve(connection); });
  }
}

void TestHttpServer::serve(Socket connection) {
  std::string request = readRequest(connection);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    requests_.push_back(request);
  }
  changed_.notify_all();
  runScript(connection, responder_(request));
  std::lock_guard<std::mutex> hold(mutex_);
  open_.erase(connection);
  closeNative(native(connection));
}

void TestHttpServer::runScript(Socket connection, const HttpScript& script) {
  for (const HttpScript::Step& step : script.steps()) {
    switch (step.kind) {
      case HttpScript::Step::Kind::Send: sendAll(connection, step.bytes); break;
      case HttpScript::Step::Kind::Trickle: {
        // Without Nagle's delay each byte leaves in a segment of its own.
        int on = 1;
        ::setsockopt(native(connection), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        for (char byte : step.bytes) {
          sendAll(connection, std::string_view(&byte, 1));
          if (!awaitClientRead(connection)) return;
        }
        break;
      }
      case HttpScript::Step::Kind::Stall: {
        std::unique_lock<std::mutex> hold(mutex_);
        if (changed_.wait_for(hold, step.pause, [this] { return stopping_; })) return;
        break;
      }
      case HttpScript::Step::Kind::AwaitClientRead:
        if (!awaitClientRead(connection)) return;
        break;
      case HttpScript::Step::Kind::Reset: {
        linger abort{};
        abort.l_onoff = 1;
        abort.l_linger = 0;
        ::setsockopt(native(connection), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
        return;  // the close that follows sends the reset
      }
      case HttpScript::Step::Kind::HoldOpen: {
        std::unique_lock<std::mutex> hold(mutex_);
        changed_.wait(hold, [this] { return stopping_; });
        return;
      }
    }
  }
  // An orderly end: the client reads the end of the stream, closes its side,
  // and only then does this side close, so no unread byte turns the close
  // into a reset.
  ::shutdown(native(connection), kShutSend);
  char sink[512];
  while (receiveSome(connection, sink, sizeof sink) > 0) {
  }
}

bool TestHttpServer::awaitClientRead(Socket connection) {
  sockaddr_in local{};
  sockaddr_in peer{};
  AddressSize size = sizeof local;
  ::getsockname(native(connection), reinterpret_cast<sockaddr*>(&local), &size);
  size = sizeof peer;
  ::getpeername(native(connection), reinterpret_cast<sockaddr*>(&peer), &size);
  // Polled: nothing signals "the peer has read". Bounded in time.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (stopping_) return false;
    }
    TcpEntry sent = tcpEntry(local.sin_addr.s_addr, ntohs(local.sin_port), peer.sin_addr.s_addr, ntohs(peer.sin_port));
    TcpEntry client =
        tcpEntry(peer.sin_addr.s_addr, ntohs(peer.sin_port), local.sin_addr.s_addr, ntohs(local.sin_port));
    if (sent.found && sent.txQueue == 0 && (!client.found || client.rxQueue == 0)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

std::vector<std::string> TestHttpServer::requests() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return requests_;
}

bool TestHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, limit, [&] { return requests_.size() >= count; });
}

}  // namespace testsupport
