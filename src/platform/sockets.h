// TCP over IPv4, shaped after Windows Sockets 2: WSAStartup / WSACleanup,
// socket, inet_addr, gethostbyname, connect, send, recv, closesocket and
// WSAGetLastError. Failures carry the Windows Sockets error numbers on every
// platform (a reset connection is 10054), so the texts a player sees are the
// same everywhere.
#pragma once

#include <cstdint>

namespace platform {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;
constexpr int kSocketError = -1;
constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

// Windows Sockets error numbers.
constexpr int kWsaEintr = 10004;
constexpr int kWsaEbadf = 10009;
constexpr int kWsaEacces = 10013;
constexpr int kWsaEfault = 10014;
constexpr int kWsaEinval = 10022;
constexpr int kWsaEmfile = 10024;
constexpr int kWsaEwouldblock = 10035;
constexpr int kWsaEnotsock = 10038;
constexpr int kWsaEmsgsize = 10040;
constexpr int kWsaEaddrinuse = 10048;
constexpr int kWsaEnetdown = 10050;
constexpr int kWsaEnetunreach = 10051;
constexpr int kWsaEconnaborted = 10053;
constexpr int kWsaEconnreset = 10054;
constexpr int kWsaEnobufs = 10055;
constexpr int kWsaEnotconn = 10057;
constexpr int kWsaEshutdown = 10058;
constexpr int kWsaEtimedout = 10060;
constexpr int kWsaEconnrefused = 10061;
constexpr int kWsaEhostunreach = 10065;

// WSAStartup(0x0202). Returns 0 on success.
int socketStartup();
// WSACleanup, balancing one socketStartup.
void socketCleanup();

// socket(AF_INET, SOCK_STREAM, 0), or kInvalidSocket.
SocketHandle openTcpSocket();
// inet_addr: the address in network byte order, or kInaddrNone when the text
// is not a numeric IPv4 address.
std::uint32_t inetAddr(const char* host);
// gethostbyname: the first IPv4 address (network byte order) of the name.
bool resolveHost(const char* host, std::uint32_t* address);
// connect to address:port (both in host terms: address in network order,
// port as a plain number), waiting at most `limitMs` milliseconds for the
// peer's answer (a non-blocking connect and select, on Windows). Returns 0
// or kSocketError; a peer that does not answer in time leaves
// kWsaEtimedout. The socket is blocking again afterwards.
int connectTo(SocketHandle socket, std::uint32_t address, std::uint16_t port, std::uint32_t limitMs);
// send(socket, data, length, 0): bytes sent or kSocketError.
int sendBytes(SocketHandle socket, const void* data, int length);
// recv(socket, buffer, length, 0), waiting at most `limitMs` milliseconds
// for a byte (SO_RCVTIMEO on Windows, poll before the receive on POSIX):
// bytes received, 0 at the end of the stream, or kSocketError. When nothing
// arrives in time the error is kWsaEtimedout. The limit is per call: a slow
// stream that keeps bringing bytes never runs into it.
int receiveBytes(SocketHandle socket, void* buffer, int length, std::uint32_t limitMs);
// closesocket.
void closeSocket(SocketHandle socket);
// WSAGetLastError for the calling thread.
int lastSocketError();

}  // namespace platform
