#include "platform/sockets.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/test_http_server.h"

namespace {

using testsupport::HttpScript;
using testsupport::TestHttpServer;

const std::uint32_t kLoopback = htonl(0x7F000001);
// Far longer than any of these exchanges takes.
constexpr std::uint32_t kLimitMs = 20000;

// The socket library, started for one test as a job starts it (Windows
// refuses every socket call before that).
struct SocketLibrary {
  SocketLibrary() { platform::socketStartup(); }
  ~SocketLibrary() { platform::socketCleanup(); }
};

// A connected client socket, closed at the end of the test.
struct Client {
  Client() : socket(platform::openTcpSocket()) {}
  ~Client() { platform::closeSocket(socket); }
  SocketLibrary library;
  platform::SocketHandle socket;
};

TEST(Sockets, NumericAddressesAreReadAsInetAddrReadsThem) {
  EXPECT_EQ(platform::inetAddr("127.0.0.1"), kLoopback);
  EXPECT_EQ(platform::inetAddr("127.1"), kLoopback);
  EXPECT_EQ(platform::inetAddr("localhost"), platform::kInaddrNone);
  EXPECT_EQ(platform::inetAddr("127.0.0.1:80"), platform::kInaddrNone);
  EXPECT_EQ(platform::inetAddr(""), platform::kInaddrNone);
}

TEST(Sockets, NamesResolveToTheirFirstIpv4Address) {
  SocketLibrary library;
  std::uint32_t address = 0;
  ASSERT_TRUE(platform::resolveHost("localhost", &address));
  EXPECT_EQ(address, kLoopback);
  EXPECT_FALSE(platform::resolveHost("no-such-host.invalid", &address));
  // WSAHOST_NOT_FOUND or WSATRY_AGAIN, as the resolver sees it.
  EXPECT_GE(platform::lastSocketError(), 11001);
  EXPECT_LE(platform::lastSocketError(), 11002);
  // No name is no host, not this machine (as Windows would answer).
  EXPECT_FALSE(platform::resolveHost("", &address));
}

TEST(Sockets, FailuresCarryWindowsNumbersPerThread) {
  Client client;
  ASSERT_NE(client.socket, platform::kInvalidSocket);
  EXPECT_EQ(platform::connectTo(client.socket, kLoopback, 80, kLimitMs), platform::kSocketError);
  EXPECT_EQ(platform::lastSocketError(), platform::kWsaEconnrefused);

  int otherThreadsError = -1;
  std::thread other([&] {
    SocketLibrary library;
    char byte;
    EXPECT_EQ(platform::receiveBytes(platform::kInvalidSocket, &byte, 1, kLimitMs), platform::kSocketError);
    otherThreadsError = platform::lastSocketError();
  });
  other.join();
  EXPECT_EQ(otherThreadsError, platform::kWsaEnotsock);
  EXPECT_EQ(platform::lastSocketError(), platform::kWsaEconnrefused);
}

TEST(Sockets, ResetPeerIsAnErrorNotASignal) {
  // The reset comes once "partial" has been read, so the receive that meets
  // it is one of its own on every system.
  TestHttpServer server(TestHttpServer::always(HttpScript().send("partial").awaitClientRead().reset()));
  ASSERT_TRUE(server.listening());
  Client client;
  ASSERT_EQ(platform::connectTo(client.socket, kLoopback, 80, kLimitMs), 0);
  std::string request = "GET / HTTP/1.0\r\n\r\n";
  EXPECT_EQ(platform::sendBytes(client.socket, request.data(), static_cast<int>(request.size())),
            static_cast<int>(request.size()));
  std::string received;
  char buffer[2048];
  int n;
  while ((n = platform::receiveBytes(client.socket, buffer, sizeof buffer, kLimitMs)) > 0) received.append(buffer, n);
  EXPECT_EQ(n, platform::kSocketError);
  EXPECT_EQ(platform::lastSocketError(), platform::kWsaEconnreset);
  // Sending to the dead connection fails with a number; without
  // MSG_NOSIGNAL, SIGPIPE would end this test binary here.
  EXPECT_EQ(platform::sendBytes(client.socket, request.data(), static_cast<int>(request.size())),
            platform::kSocketError);
  EXPECT_EQ(platform::lastSocketError(), platform::kWsaEconnreset);
}

#if !defined(_WIN32)
TEST(Sockets, ConnectGivesUpOnAPeerThatNeverAnswers) {
  // A listener whose accept queue is full (backlog 0, one connection
  // waiting) leaves further handshakes unanswered, as a dropped route does.
  // Windows refuses such a connection instead, so this runs on POSIX only.
  constexpr std::uint16_t kPort = 81;
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(kPort);
  bound.sin_addr.s_addr = kLoopback;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&bound), sizeof bound), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  Client waiting;
  ASSERT_EQ(platform::connectTo(waiting.socket, kLoopback, kPort, kLimitMs), 0);

  Client unanswered;
  EXPECT_EQ(platform::connectTo(unanswered.socket, kLoopback, kPort, 300), platform::kSocketError);
  EXPECT_EQ(platform::lastSocketError(), platform::kWsaEtimedout);
  ::close(listener);
}
#endif

}  // namespace
