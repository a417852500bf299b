// TCP over IPv4 on POSIX, answering as Windows Sockets would: every failure
// leaves a Windows Sockets error number for lastSocketError.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform {

namespace {

// Windows Sockets numbers with no constant in the header: only this file
// produces them.
constexpr int kWsaEinprogress = 10036;
constexpr int kWsaEalready = 10037;
constexpr int kWsaEprotonosupport = 10043;
constexpr int kWsaEafnosupport = 10047;
constexpr int kWsaEaddrnotavail = 10049;
constexpr int kWsaEisconn = 10056;
constexpr int kWsaEhostdown = 10064;
// WSASYSCALLFAILURE: what an errno without a Windows Sockets counterpart
// becomes. It is never 0 and never one of the job's own failure codes, so a
// caller that stores it still sees a failure.
constexpr int kWsaSyscallfailure = 10107;
// Name resolution failures (WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY).
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;

// WSAGetLastError is per thread; a plain int needs no destruction, so a
// thread still running while the process ends never touches a dead object.
thread_local int lastError = 0;

// WSAStartup / WSACleanup need no work here; the count only keeps the calls
// balanced the way the Windows library expects them.
std::atomic<int> startupCount{0};

int wsaErrorFromErrno(int error) {
  switch (error) {
    case EINTR: return kWsaEintr;
    // A descriptor that is no open socket: Windows says "not a socket" for
    // any such handle, never WSAEBADF.
    case EBADF: return kWsaEnotsock;
    case EACCES: return kWsaEacces;
    case EFAULT: return kWsaEfault;
    case EINVAL: return kWsaEinval;
    case EMFILE:
    case ENFILE: return kWsaEmfile;
    case EAGAIN: return kWsaEwouldblock;
    case EINPROGRESS: return kWsaEinprogress;
    case EALREADY: return kWsaEalready;
    case ENOTSOCK: return kWsaEnotsock;
    case EMSGSIZE: return kWsaEmsgsize;
    case EPROTONOSUPPORT: return kWsaEprotonosupport;
    case EAFNOSUPPORT: return kWsaEafnosupport;
    case EADDRINUSE: return kWsaEaddrinuse;
    case EADDRNOTAVAIL: return kWsaEaddrnotavail;
    case ENETDOWN: return kWsaEnetdown;
    case ENETUNREACH: return kWsaEnetunreach;
    case ECONNABORTED: return kWsaEconnaborted;
    case ECONNRESET:
    // This code never shuts down its own sending side, so a broken pipe means
    // the peer dropped the connection: Windows reports that as a reset.
    case EPIPE: return kWsaEconnreset;
    case ENOBUFS:
    case ENOMEM: return kWsaEnobufs;
    case EISCONN: return kWsaEisconn;
    case ENOTCONN: return kWsaEnotconn;
    case ESHUTDOWN: return kWsaEshutdown;
    case ETIMEDOUT: return kWsaEtimedout;
    case ECONNREFUSED: return kWsaEconnrefused;
    case EHOSTDOWN: return kWsaEhostdown;
    case EHOSTUNREACH: return kWsaEhostunreach;
    default: return kWsaSyscallfailure;
  }
}

int failWithErrno() {
  lastError = wsaErrorFromErrno(errno);
  return kSocketError;
}

int wsaErrorFromResolver(int error) {
  switch (error) {
    case EAI_AGAIN: return kWsaTryAgain;
    case EAI_FAIL: return kWsaNoRecovery;
    case EAI_MEMORY: return kWsaEnobufs;
    case EAI_SYSTEM: return wsaErrorFromErrno(errno);
    default: return kWsaHostNotFound;
  }
}

int fd(SocketHandle socket) { return static_cast<int>(socket); }

// Waits until `events` are ready on the socket, at most `limitMs` in all,
// however often a signal interrupts the wait. 1 when ready, 0 when the limit
// passed (kWsaEtimedout is left), kSocketError on failure.
int waitFor(int socket, short events, std::uint32_t limitMs) {
  // poll skips a negative descriptor and would only wait out the limit.
  if (socket < 0) {
    lastError = kWsaEnotsock;
    return kSocketError;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd watch{socket, events, 0};
    int ready = ::poll(&watch, 1, static_cast<int>(std::max<long long>(left, 0)));
    if (ready > 0) return 1;
    if (ready == 0) {
      lastError = kWsaEtimedout;
      return 0;
    }
    if (errno != EINTR) return failWithErrno();
  }
}

bool setNonBlocking(int socket, bool on) {
  int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(socket, F_SETFL, flags) == 0;
}

// The outcome of a connect that went on in the background, once the socket
// is writable.
int connectOutcome(int socket) {
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return failWithErrno();
  if (error != 0) {
    lastError = wsaErrorFromErrno(error);
    return kSocketError;
  }
  return 0;
}

}  // namespace

int socketStartup() {
  startupCount.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

void socketCleanup() {
  int count = startupCount.load(std::memory_order_relaxed);
  while (count > 0 && !startupCount.compare_exchange_weak(count, count - 1, std::memory_order_relaxed)) {
  }
}

SocketHandle openTcpSocket() {
  int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) {
    failWithErrno();
    return kInvalidSocket;
  }
  return socket;
}

std::uint32_t inetAddr(const char* host) {
  if (host == nullptr) return kInaddrNone;
  return ::inet_addr(host);
}

bool resolveHost(const char* host, std::uint32_t* address) {
  if (host == nullptr || address == nullptr) {
    lastError = kWsaEfault;
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int result = ::getaddrinfo(host, nullptr, &hints, &found);
  if (result != 0 || found == nullptr) {
    lastError = result != 0 ? wsaErrorFromResolver(result) : kWsaHostNotFound;
    return false;
  }
  sockaddr_in first{};
  std::memcpy(&first, found->ai_addr, sizeof first);
  ::freeaddrinfo(found);
  *address = first.sin_addr.s_addr;
  return true;
}

int connectTo(SocketHandle socket, std::uint32_t address, std::uint16_t port, std::uint32_t limitMs) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = address;
  if (!setNonBlocking(fd(socket), true)) return failWithErrno();
  int result = 0;
  if (::connect(fd(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    // Interrupted or not, the attempt goes on in the background.
    if (errno != EINPROGRESS && errno != EINTR) {
      result = failWithErrno();
    } else {
      int ready = waitFor(fd(socket), POLLOUT, limitMs);
      result = ready == 1 ? connectOutcome(fd(socket)) : kSocketError;
    }
  }
  if (!setNonBlocking(fd(socket), false) && result == 0) return failWithErrno();
  return result;
}

int sendBytes(SocketHandle socket, const void* data, int length) {
  if (length < 0) {
    lastError = kWsaEinval;
    return kSocketError;
  }
  // A blocking Windows send hands over everything; a POSIX one may stop early
  // on a signal, so keep going. MSG_NOSIGNAL: a dropped peer is an error
  // value, not a SIGPIPE that ends the process.
  const char* bytes = static_cast<const char*>(data);
  int sent = 0;
  while (sent < length) {
    ssize_t n = ::send(fd(socket), bytes + sent, static_cast<std::size_t>(length - sent), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (sent > 0) return sent;
      return failWithErrno();
    }
    sent += static_cast<int>(n);
  }
  return sent;
}

int receiveBytes(SocketHandle socket, void* buffer, int length, std::uint32_t limitMs) {
  if (length < 0) {
    lastError = kWsaEinval;
    return kSocketError;
  }
  if (int ready = waitFor(fd(socket), POLLIN, limitMs); ready != 1) return kSocketError;
  for (;;) {
    ssize_t n = ::recv(fd(socket), buffer, static_cast<std::size_t>(length), 0);
    if (n >= 0) return static_cast<int>(n);
    // Windows has no signals to interrupt a receive; waiting on is the same.
    if (errno != EINTR) return failWithErrno();
  }
}

void closeSocket(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  // Not retried on EINTR: Linux has released the descriptor either way.
  ::close(fd(socket));
}

int lastSocketError() { return lastError; }

}  // namespace platform
