// The kernel's TCP table is Linux's /proc/net/tcp; under Wine, where the
// Windows test binaries run, the same file is Z:\proc\net\tcp.
#include "support/tcp_table.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace testsupport {

namespace {

#if defined(_WIN32)
constexpr const char* kTcpTable = "Z:\\proc\\net\\tcp";
#else
constexpr const char* kTcpTable = "/proc/net/tcp";
#endif

}  // namespace

TcpEntry tcpEntry(std::uint32_t localAddress, std::uint16_t localPort, std::uint32_t remoteAddress,
                  std::uint16_t remotePort) {
  TcpEntry entry;
  std::ifstream table(kTcpTable);
  std::string line;
  std::getline(table, line);  // column titles
  while (std::getline(table, line)) {
    unsigned tableLocal, tableLocalPort, tableRemote, tableRemotePort, state, tx, rx;
    if (std::sscanf(line.c_str(), " %*u: %8X:%4X %8X:%4X %2X %8X:%8X", &tableLocal, &tableLocalPort, &tableRemote,
                    &tableRemotePort, &state, &tx, &rx) != 7) {
      continue;
    }
    if (tableLocal == localAddress && tableLocalPort == localPort && tableRemote == remoteAddress &&
        tableRemotePort == remotePort) {
      entry = {true, tx, rx};
      break;
    }
  }
  return entry;
}

}  // namespace testsupport
