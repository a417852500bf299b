#include "gtk/page_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string_view>
#include <utility>

namespace guitest {

namespace {

constexpr int kRequestTimeoutMs = 5000;
constexpr std::size_t kMaxRequest = 16384;

bool sendAll(int socket, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

}  // namespace

bool PageServer::start(std::map<std::string, std::string> pages) {
  pages_ = std::move(pages);
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return false;
  const int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(80);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 16) != 0 ||
      ::pipe2(wake_, O_CLOEXEC) != 0) {
    stop();
    return false;
  }
  thread_ = std::thread([this] { serve(); });
  return true;
}

void PageServer::stop() {
  if (thread_.joinable()) {
    const char byte = 0;
    (void)!::write(wake_[1], &byte, 1);
    thread_.join();
  }
  for (int* fd : {&listener_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void PageServer::serve() {
  for (;;) {
    pollfd waits[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0) continue;
    if (waits[1].revents != 0) return;
    const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    answer(connection);
    ::close(connection);
  }
}

void PageServer::answer(int connection) const {
  std::string request;
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequest) {
    pollfd wait{connection, POLLIN, 0};
    if (::poll(&wait, 1, kRequestTimeoutMs) <= 0) return;
    char buffer[2048];
    const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  // "GET /path?query HTTP/1.1"
  const std::size_t start = request.find(' ');
  const std::size_t end = start == std::string::npos ? start : request.find_first_of(" ?", start + 1);
  const std::string path = end == std::string::npos ? "" : request.substr(start + 1, end - start - 1);
  auto page = pages_.find(path);
  const std::string body = page != pages_.end() ? page->second : "not here";
  const std::string status = page != pages_.end() ? "200 OK" : "404 Not Found";
  sendAll(connection, "HTTP/1.0 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\n" +
                          "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

}  // namespace guitest
