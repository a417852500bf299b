#include "support/test_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace testsupport {

namespace {

constexpr std::size_t kMaxRequest = 64 * 1024;

void sendAll(int connection, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;  // the client has gone: nothing more to say
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Reads until the blank line that ends a request, the end of the stream, or
// a size no test request reaches.
std::string readRequest(int connection) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequest) {
    ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  return request;
}

struct TcpEntry {
  bool found = false;
  unsigned txQueue = 0;
  unsigned rxQueue = 0;
};

// The kernel's own view of one TCP connection of this network namespace:
// bytes sent but not acknowledged, and bytes arrived but not yet read.
TcpEntry tcpEntry(const sockaddr_in& local, const sockaddr_in& remote) {
  TcpEntry entry;
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // column titles
  while (std::getline(table, line)) {
    unsigned localAddress, localPort, remoteAddress, remotePort, state, tx, rx;
    if (std::sscanf(line.c_str(), " %*u: %8X:%4X %8X:%4X %2X %8X:%8X", &localAddress, &localPort,
                    &remoteAddress, &remotePort, &state, &tx, &rx) != 7) {
      continue;
    }
    if (localAddress == local.sin_addr.s_addr && localPort == ntohs(local.sin_port) &&
        remoteAddress == remote.sin_addr.s_addr && remotePort == ntohs(remote.sin_port)) {
      entry = {true, tx, rx};
      break;
    }
  }
  return entry;
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
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return;
  int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(port);
  bound.sin_addr.s_addr = ::inet_addr(address.c_str());
  if (::bind(listener, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 || ::listen(listener, 16) != 0) {
    ::close(listener);
    return;
  }
  listener_ = listener;
  acceptor_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() { stop(); }

void TestHttpServer::stop() {
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_) return;
    stopping_ = true;
    // shutdown wakes every thread blocked on these sockets; each thread
    // closes its own.
    if (listener_ >= 0) ::shutdown(listener_, SHUT_RDWR);
    for (int connection : open_) ::shutdown(connection, SHUT_RDWR);
  }
  changed_.notify_all();
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& connection : connections) connection.join();
  if (listener_ >= 0) ::close(listener_);
}

void TestHttpServer::acceptLoop() {
  for (;;) {
    int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_) {
      if (connection >= 0) ::close(connection);
      return;
    }
    if (connection < 0) continue;
    open_.insert(connection);
    connections_.emplace_back([this, connection] { serve(connection); });
  }
}

void TestHttpServer::serve(int connection) {
  std::string request = readRequest(connection);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    requests_.push_back(request);
  }
  changed_.notify_all();
  runScript(connection, responder_(request));
  std::lock_guard<std::mutex> hold(mutex_);
  open_.erase(connection);
  ::close(connection);
}

void TestHttpServer::runScript(int connection, const HttpScript& script) {
  for (const HttpScript::Step& step : script.steps()) {
    switch (step.kind) {
      case HttpScript::Step::Kind::Send:
        sendAll(connection, step.bytes);
        break;
      case HttpScript::Step::Kind::Trickle: {
        // Without Nagle's delay each byte leaves in a segment of its own.
        int on = 1;
        ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
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
        linger abort{1, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
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
  ::shutdown(connection, SHUT_WR);
  char sink[512];
  while (::recv(connection, sink, sizeof sink, 0) > 0) {
  }
}

bool TestHttpServer::awaitClientRead(int connection) {
  sockaddr_in local{};
  sockaddr_in peer{};
  socklen_t size = sizeof local;
  ::getsockname(connection, reinterpret_cast<sockaddr*>(&local), &size);
  size = sizeof peer;
  ::getpeername(connection, reinterpret_cast<sockaddr*>(&peer), &size);
  // Polled: nothing signals "the peer has read". Bounded in time.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (stopping_) return false;
    }
    TcpEntry sent = tcpEntry(local, peer);
    TcpEntry client = tcpEntry(peer, local);
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
