#include "net/http_get.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "net/body_destination.h"
#include "net/file_destination.h"
#include "net/memory_destination.h"
#include "net/response_header.h"
#include "net/streaming_file.h"
#include "net/transfer_limits.h"
#include "platform/sockets.h"

namespace net {

namespace {

constexpr std::uint16_t kHttpPort = 80;
constexpr int kReceiveSize = 2048;
// The expected length when the response announces none: such a body is
// whole only when it has exactly this many bytes.
constexpr std::int32_t kDefaultLength = 32768;

// The host part of a url: everything before the first "/".
std::string hostOf(const std::string& url) { return url.substr(0, url.find('/')); }

}  // namespace

// The url holds nothing a request line cannot carry even escaped: no control
// character (a CR or LF would start a new header line, a NUL would cut the
// name), and a host of printable ASCII alone, as the Host header carries it.
bool isSendableUrl(std::string_view url) {
  const std::string_view host = url.substr(0, url.find('/'));
  return std::ranges::none_of(url,
                              [](char c) {
                                const auto byte = static_cast<unsigned char>(c);
                                return byte < 0x20 || byte == 0x7F;
                              }) &&
         std::ranges::all_of(host, [](char c) {
           const auto byte = static_cast<unsigned char>(c);
           return byte > 0x20 && byte < 0x80;
         });
}

namespace {

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The request target: the url with each byte of 0x80 and above, each blank,
// each "#" and each "%" that starts no escape percent-encoded ("%FC",
// "%25"), so that a name in UTF-8 or in a Windows code page reaches the file
// of those bytes on any server, and nothing ends, cuts or spoils the target.
// Everything else goes out as it is: the list's own escapes ("%f1") are the
// server's to decode.
std::string requestTarget(std::string_view url) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string target;
  target.reserve(url.size());
  for (std::size_t i = 0; i < url.size(); ++i) {
    const char c = url[i];
    const auto byte = static_cast<unsigned char>(c);
    const bool strayPercent = c == '%' && (i + 2 >= url.size() || !isHexDigit(url[i + 1]) || !isHexDigit(url[i + 2]));
    if (byte >= 0x80 || byte == ' ' || byte == '#' || strayPercent) {
      target += '%';
      target += kHex[byte >> 4];
      target += kHex[byte & 0xF];
    } else {
      target += c;
    }
  }
  return target;
}

}  // namespace

// The target in absolute form, then exactly four headers.
std::string httpRequestText(const std::string& url) {
  return "GET http://" + requestTarget(url) + " HTTP/1.0\r\nHost: " + hostOf(url) +
         "\r\nConnection: close\r\nPragma: no-cache\r\nUser-Agent: QuarvoUpdater\r\n\r\n";
}

namespace {

// The connection, closed on every way out.
class Connection {
 public:
  Connection() : socket_(platform::openTcpSocket()) {}
  ~Connection() { platform::closeSocket(socket_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool isOpen() const { return socket_ != platform::kInvalidSocket; }
  platform::SocketHandle handle() const { return socket_; }

 private:
  platform::SocketHandle socket_;
};

// The body's rules, fixed by the header.
struct BodyPlan {
  bool announced = false;
  // The announced length, or kDefaultLength when none is announced: a body
  // without "Content-Length: " is whole only at exactly that size.
  std::uint32_t length = 0;
};

// Judges a complete header block and publishes the expected length.
DownloadStatus planBody(cStreamingFile& job, std::string_view headerBlock, BodyPlan* plan) {
  if (!statusIsOk(headerBlock)) return DownloadStatus::BadResponse;
  ContentLength length = contentLength(headerBlock);
  if (length.kind == ContentLength::Kind::OutOfRange) return DownloadStatus::BodyTooLarge;
  if (length.kind == ContentLength::Kind::Announced && length.value < 0) return DownloadStatus::LengthInvalid;
  plan->announced = length.kind == ContentLength::Kind::Announced;
  plan->length = static_cast<std::uint32_t>(plan->announced ? length.value : kDefaultLength);
  // An answer that announces another length than the list gives is not the
  // file (a portal's page, a hostile mirror's endless body): refused before
  // the body, so nothing of it is written. A signed entry's size is a
  // promise besides: a body without a length may only be that long.
  if (job.listedSize && plan->announced && plan->length != *job.listedSize) return DownloadStatus::SizeMismatch;
  if (job.listedSize && !job.expectedDigest.empty() && !plan->announced) plan->length = *job.listedSize;
  if (job.inMemory && plan->length > job.memoryLimit) return DownloadStatus::BodyTooLarge;
  platform::CriticalSectionLock hold(job.lock);
  job.expectedLength.store(static_cast<std::int32_t>(plan->length), std::memory_order_release);
  return DownloadStatus::None;
}

// A body that does not have its expected length fails; without an announced
// length the fault is the missing header, and the status says so.
DownloadStatus wrongLength(const BodyPlan& plan, DownloadStatus announcedFault) {
  return plan.announced ? announcedFault : DownloadStatus::LengthMissing;
}

DownloadStatus storeBody(cStreamingFile& job, const BodyPlan& plan, BodyDestination& destination, const char* bytes,
                         std::uint32_t count) {
  std::uint32_t received = job.received.load(std::memory_order_relaxed);
  if (count > plan.length - received) return wrongLength(plan, DownloadStatus::BodyOverlong);
  return destination.append(bytes, count);
}

// The connection has ended cleanly: the body is whole only at its expected
// length, and it is the file the list names only at the list's size (a
// captive portal's login page is a whole answer of its own length).
DownloadStatus finishBody(cStreamingFile& job, const BodyPlan& plan, BodyDestination& destination) {
  std::uint32_t received = job.received.load(std::memory_order_relaxed);
  if (received != plan.length) return wrongLength(plan, DownloadStatus::BodyTruncated);
  if (job.listedSize && received != *job.listedSize) return DownloadStatus::SizeMismatch;
  return destination.finish();
}

// A server that never answers the connection is a stall like a silent
// receive and is reported the same way, with the socket layer's number;
// every other connect failure is ConnectFailed.
std::int32_t connect(const Connection& connection, const std::string& host, std::uint32_t limitMs) {
  if (!connection.isOpen()) return statusCode(DownloadStatus::SocketFailed);
  std::uint32_t address = platform::inetAddr(host.c_str());
  if (address == platform::kInaddrNone && !platform::resolveHost(host.c_str(), &address))
    return statusCode(DownloadStatus::HostNotFound);
  if (platform::connectTo(connection.handle(), address, kHttpPort, limitMs) != 0) {
    return platform::lastSocketError() == platform::kWsaEtimedout ? platform::kWsaEtimedout
                                                                  : statusCode(DownloadStatus::ConnectFailed);
  }
  return statusCode(DownloadStatus::None);
}

// A failed receive reports the socket layer's number unchanged; it is never 0
// there, but 0 would read as "still running" for good, so guard it.
std::int32_t receiveFailure() {
  int error = platform::lastSocketError();
  return error != 0 ? error : platform::kWsaEnotconn;
}

std::int32_t exchange(cStreamingFile& job, const Connection& connection, BodyDestination& destination) {
  if (!isSendableUrl(job.url)) return statusCode(DownloadStatus::UrlRefused);
  const TransferLimits limits = transferLimits();
  std::int32_t connected = connect(connection, hostOf(job.url), limits.connectMs);
  if (connected != statusCode(DownloadStatus::None)) return connected;
  std::string request = httpRequestText(job.url);
  // Not examined: a broken connection shows at the next receive.
  platform::sendBytes(connection.handle(), request.data(), static_cast<int>(request.size()));

  HeaderCollector header(kMaxHeaderBytes, kReceiveSize);
  std::array<char, kReceiveSize> chunk{};
  BodyPlan plan;
  bool inBody = false;
  // Starts once the request is out: the server's time, not the connection's.
  ProgressWindow pace(limits);
  for (;;) {
    int n = platform::receiveBytes(connection.handle(), chunk.data(), kReceiveSize, limits.receiveMs);
    if (n == platform::kSocketError) return receiveFailure();
    // A starving server is reported as a stall; the end of the response is
    // never held against it.
    if (n > 0 && !pace.arrived(static_cast<std::uint32_t>(n))) return platform::kWsaEtimedout;
    if (!inBody) {
      // Closed before the header ended: nothing usable came.
      if (n == 0) return statusCode(DownloadStatus::BadResponse);
      HeaderCollector::Progress progress = header.add(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
      if (progress == HeaderCollector::Progress::NeedMore) continue;
      if (progress == HeaderCollector::Progress::TooLong) return statusCode(DownloadStatus::BadResponse);
      if (DownloadStatus planned = planBody(job, header.block(), &plan); planned != DownloadStatus::None)
        return statusCode(planned);
      if (DownloadStatus opened = destination.open(plan.length); opened != DownloadStatus::None)
        return statusCode(opened);
      inBody = true;
      std::string_view firstBody = header.bodyBytes();
      if (!firstBody.empty()) {
        DownloadStatus stored =
            storeBody(job, plan, destination, firstBody.data(), static_cast<std::uint32_t>(firstBody.size()));
        if (stored != DownloadStatus::None) return statusCode(stored);
      } else if (plan.announced && plan.length == 0) {
        // Nothing more to come: an empty body is complete at once.
        return statusCode(finishBody(job, plan, destination));
      }
      continue;
    }
    if (n == 0) return statusCode(finishBody(job, plan, destination));
    DownloadStatus stored = storeBody(job, plan, destination, chunk.data(), static_cast<std::uint32_t>(n));
    if (stored != DownloadStatus::None) return statusCode(stored);
  }
}

// The exchange into one destination; a failed one leaves no side file.
std::int32_t fetchInto(cStreamingFile& job, const Connection& connection, BodyDestination& destination) {
  const std::int32_t outcome = exchange(job, connection, destination);
  if (outcome != statusCode(DownloadStatus::None)) destination.abandon();
  return outcome;
}

}  // namespace

void runHttpGet(cStreamingFile& job) {
  std::int32_t outcome;
  {
    Connection connection;
    // The destination is chosen once, when the job starts; on the worker's
    // stack like the connection, and gone before it.
    if (job.inMemory) {
      MemoryDestination memory(job);
      outcome = fetchInto(job, connection, memory);
    } else {
      FileDestination file(job);
      outcome = fetchInto(job, connection, file);
    }
  }
  // The socket is closed and any side file gone before the owner can see the
  // outcome; `done` comes last of all and vouches for the finished result.
  if (outcome != statusCode(DownloadStatus::None)) {
    job.status.store(outcome, std::memory_order_release);
  } else {
    job.done.store(true, std::memory_order_release);
  }
  // The owner may see the outcome by now; the job itself stays until this
  // worker has returned (its destructor waits for it).
  if (job.onEnded) job.onEnded();
}

}  // namespace net
