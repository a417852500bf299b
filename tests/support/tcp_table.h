// The Linux kernel's view of one TCP connection of this network namespace,
// from its table (support/linux/tcp_table.cpp). The Windows test binaries run
// under Wine on Linux and read the same table; on a real Windows there is
// none, and nothing is found.
#pragma once

#include <cstdint>

namespace testsupport {

struct TcpEntry {
  bool found = false;
  // Bytes sent but not acknowledged.
  unsigned txQueue = 0;
  // Bytes arrived but not yet read.
  unsigned rxQueue = 0;
};

// The connection from local to remote. Addresses as sockaddr_in holds them
// (network byte order), ports in host byte order.
TcpEntry tcpEntry(std::uint32_t localAddress, std::uint16_t localPort, std::uint32_t remoteAddress,
                  std::uint16_t remotePort);

}  // namespace testsupport
