#include "server_check.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "net/http_get.h"
#include "net/response_header.h"
#include "net/streaming_file.h"
#include "net/transfer_limits.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "release_names.h"
#include "update/entry_names.h"
#include "update/list_signature.h"
#include "update/update_key.h"
#include "update/version_list.h"

namespace publish {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1024} * 1024;

using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "glimmerhold-publish";
constexpr std::uint16_t kHttpPort = 80;
constexpr int kReceiveSize = 2048;
// The start of a body kept to tell what it is (a web page, a compressed
// stream) when it is not the file.
constexpr std::size_t kKeptPrefix = 512;
// A list may be cached this long without a warning: about as stale as a
// player would notice.
constexpr long kShortCacheSeconds = 300;
// Files in a row that get no answer before the check gives up on the server.
constexpr std::size_t kUnansweredLimit = 3;
// Findings of one kind shown file by file before the rest are counted.
constexpr std::size_t kShownPerKind = 10;

// The launcher's body length when none is announced (net/http_get.cpp).
constexpr std::uint64_t kUnannouncedLength = 32768;

std::ostream& complain(std::ostream& err) { return err << kProgram << ": "; }

// ---- One exchange --------------------------------------------------------

enum class RequestForm { Absolute, Origin };

struct Exchange {
  enum class Outcome {
    Answered,        // a header block arrived; the body is as far as it came
    NotSendable,     // the url holds what no request line carries
    HostNotFound,    //
    ConnectFailed,   // refused or unreachable
    ConnectStalled,  // no answer to the connection in time
    NoHeader,        // closed before the header ended
    HeaderTooLong,   // a header block longer than the launcher reads
    Failed,          // a receive failed (reset) or stalled; see `stalled`
  };
  Outcome outcome = Outcome::Answered;
  int socketError = 0;
  bool stalled = false;  // no byte within the receive limit, or too few a window
  std::string header;
  // The body's first bytes; the whole body when `keepWhole`.
  std::string body;
  std::uint64_t bodyBytes = 0;
  std::string bodyToken;      // the body's content token, as the list spells one
  bool bodyComplete = false;  // the connection ended cleanly after the body
  std::chrono::milliseconds longestWait{0};
};

std::string hostOf(const std::string& url) { return url.substr(0, url.find('/')); }

std::string tokenOf(platform::Sha256& digest) {
  platform::Sha256Digest bytes{};
  if (!digest.finish(bytes)) return std::string();
  constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (std::size_t i = 0; token.size() < update::kMaxEntryVersion && i < bytes.size(); ++i) {
    token += kHex[bytes[i] >> 4];
    token += kHex[bytes[i] & 0x0F];
  }
  return token;
}

class Socket {
 public:
  Socket() : handle_(platform::openTcpSocket()) {}
  ~Socket() { platform::closeSocket(handle_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  platform::SocketHandle handle() const { return handle_; }

 private:
  platform::SocketHandle handle_;
};

// The launcher's request for `url`, in the form asked: the origin form is
// the same bytes with "http://host" taken out of the request line.
std::string requestFor(const std::string& url, RequestForm form) {
  std::string text = net::httpRequestText(url);
  if (form == RequestForm::Origin) text.erase(4, std::string("http://").size() + hostOf(url).size());
  return text;
}

// One request on a connection of its own, read to the end of the response
// or to `bodyLimit` + 1 bytes of body, under the launcher's limits.
Exchange fetch(const std::string& url, RequestForm form, std::uint64_t bodyLimit, bool keepWhole) {
  Exchange result;
  if (!net::isSendableUrl(url)) {
    result.outcome = Exchange::Outcome::NotSendable;
    return result;
  }
  const net::TransferLimits limits = net::transferLimits();
  const std::string host = hostOf(url);
  std::uint32_t address = platform::inetAddr(host.c_str());
  if (address == platform::kInaddrNone && !platform::resolveHost(host.c_str(), &address)) {
    result.outcome = Exchange::Outcome::HostNotFound;
    return result;
  }
  Socket socket;
  if (socket.handle() == platform::kInvalidSocket ||
      platform::connectTo(socket.handle(), address, kHttpPort, limits.connectMs) != 0) {
    result.socketError = platform::lastSocketError();
    result.outcome = result.socketError == platform::kWsaEtimedout ? Exchange::Outcome::ConnectStalled
                                                                   : Exchange::Outcome::ConnectFailed;
    return result;
  }
  const std::string request = requestFor(url, form);
  platform::sendBytes(socket.handle(), request.data(), static_cast<int>(request.size()));

  net::HeaderCollector header(net::kMaxHeaderBytes, kReceiveSize);
  std::array<char, kReceiveSize> chunk{};
  platform::Sha256 digest;
  net::ProgressWindow pace(limits);
  bool inBody = false;
  auto takeBody = [&](std::string_view bytes) {
    const std::uint64_t room = bodyLimit + 1 - result.bodyBytes;
    bytes = bytes.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(room, bytes.size())));
    digest.update(bytes.data(), bytes.size());
    if (keepWhole || result.body.size() < kKeptPrefix) {
      result.body.append(bytes.substr(0, keepWhole ? bytes.size() : kKeptPrefix - result.body.size()));
    }
    result.bodyBytes += bytes.size();
  };
  for (;;) {
    const Clock::time_point asked = Clock::now();
    const int n = platform::receiveBytes(socket.handle(), chunk.data(), kReceiveSize, limits.receiveMs);
    result.longestWait =
        std::max(result.longestWait, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked));
    if (n == platform::kSocketError || (n > 0 && !pace.arrived(static_cast<std::uint32_t>(n)))) {
      result.socketError = n == platform::kSocketError ? platform::lastSocketError() : platform::kWsaEtimedout;
      result.stalled = result.socketError == platform::kWsaEtimedout;
      result.outcome = inBody || result.stalled ? Exchange::Outcome::Failed : Exchange::Outcome::NoHeader;
      break;
    }
    const std::string_view bytes(chunk.data(), static_cast<std::size_t>(n));
    if (!inBody) {
      if (n == 0) {
        result.outcome = Exchange::Outcome::NoHeader;
        break;
      }
      const net::HeaderCollector::Progress progress = header.add(bytes);
      if (progress == net::HeaderCollector::Progress::NeedMore) continue;
      if (progress == net::HeaderCollector::Progress::TooLong) {
        result.outcome = Exchange::Outcome::HeaderTooLong;
        break;
      }
      inBody = true;
      result.header = std::string(header.block());
      takeBody(header.bodyBytes());
    } else if (n == 0) {
      result.bodyComplete = true;
      break;
    } else {
      takeBody(bytes);
    }
    if (result.bodyBytes > bodyLimit) break;
  }
  if (inBody) result.bodyToken = tokenOf(digest);
  return result;
}

// ---- Reading a header block ----------------------------------------------

// The value of the first header line named `name` (case-blind), blanks
// around it removed; nothing when the block has no such line.
std::optional<std::string> headerValue(std::string_view block, std::string_view name) {
  std::size_t at = block.find("\r\n");
  while (at != std::string_view::npos && at + 2 < block.size()) {
    const std::size_t start = at + 2;
    const std::size_t end = block.find("\r\n", start);
    const std::string_view line = block.substr(start, end == std::string_view::npos ? end : end - start);
    const std::size_t colon = line.find(':');
    if (colon == name.size() && net::findNoCase(line.substr(0, colon), name) == 0) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
      return std::string(value);
    }
    at = end;
  }
  return std::nullopt;
}

std::string statusLine(std::string_view block) { return printableName(block.substr(0, block.find("\r\n"))); }

// The status code of the block, 0 when the status line has none.
int httpStatus(std::string_view block) {
  if (block.size() < 12 || block.substr(0, 5) != "HTTP/") return 0;
  const std::size_t blank = block.find(' ');
  if (blank == std::string_view::npos || blank + 4 > block.size()) return 0;
  int code = 0;
  for (std::size_t i = blank + 1; i < blank + 4; ++i) {
    if (block[i] < '0' || block[i] > '9') return 0;
    code = code * 10 + (block[i] - '0');
  }
  return code;
}

// The longest life Cache-Control or Expires lets a cache give the answer,
// in seconds; 0 when it says no-cache, no-store or max-age=0; nothing when
// the answer says nothing (caches then guess).
std::optional<long> cacheLife(std::string_view block) {
  if (std::optional<std::string> control = headerValue(block, "Cache-Control")) {
    if (net::findNoCase(*control, "no-cache") != net::kNotFound ||
        net::findNoCase(*control, "no-store") != net::kNotFound)
      return 0;
    long life = -1;
    for (std::string_view key : {"s-maxage=", "max-age="}) {
      const std::size_t at = net::findNoCase(*control, key);
      if (at == net::kNotFound) continue;
      long value = 0;
      for (std::size_t i = at + key.size(); i < control->size() && (*control)[i] >= '0' && (*control)[i] <= '9'; ++i)
        value = std::min(value * 10 + ((*control)[i] - '0'), 1L << 40);
      life = std::max(life, value);
    }
    if (life >= 0) return life;
  }
  if (headerValue(block, "Expires")) return std::numeric_limits<long>::max();
  return std::nullopt;
}

// ---- Findings ------------------------------------------------------------

enum class Severity { Breaks, Warning };

struct Finding {
  Severity severity;
  std::string kind;  // groups findings of many files
  std::string text;  // the file and what is wrong
  std::string fix;
};

class Report {
 public:
  explicit Report(std::ostream& out) : out_(out) {}

  void add(Severity severity, const std::string& kind, const std::string& text, const std::string& fix) {
    (severity == Severity::Breaks ? breaks_ : warnings_) += 1;
    std::size_t& shown = shownPerKind_[kind];
    if (++shown > kShownPerKind) return;
    out_ << (severity == Severity::Breaks ? "FAULT: " : "warning: ") << text << ". Fix: " << fix << "\n";
  }

  // One line for each kind with findings beyond those shown.
  void finish() {
    for (const auto& [kind, count] : shownPerKind_) {
      if (count > kShownPerKind) out_ << "... and " << count - kShownPerKind << " more files: " << kind << "\n";
    }
  }

  std::size_t breaks() const { return breaks_; }
  std::size_t warnings() const { return warnings_; }

 private:
  std::ostream& out_;
  std::map<std::string, std::size_t> shownPerKind_;
  std::size_t breaks_ = 0;
  std::size_t warnings_ = 0;
};

std::string seconds(std::uint32_t ms) { return std::to_string((ms + 999) / 1000) + " s"; }

constexpr const char* kOtherBytes = "other bytes";

// What a body that is not the file looks like.
std::string bodyLooks(const std::string& prefix) {
  if (prefix.size() >= 2 && static_cast<unsigned char>(prefix[0]) == 0x1F &&
      static_cast<unsigned char>(prefix[1]) == 0x8B)
    return "a gzip stream";
  if (net::findNoCase(prefix, "<html") != net::kNotFound || net::findNoCase(prefix, "<!doctype html") != net::kNotFound)
    return "an HTML page (a login, portal or error page?)";
  return kOtherBytes;
}

// What a fetch must deliver for the launcher to take it.
struct Expectation {
  std::optional<std::uint64_t> size;  // the listed size
  std::string token;                  // the listed content token; empty: not checked
  std::uint64_t limit = 0;            // the most the launcher takes in memory; 0: a file
};

// Judges the transport of one exchange (not the status): what breaks the
// launcher's download of `shown`. False when the body cannot be judged.
bool judgeExchange(const Exchange& got, const std::string& shown, Report& report) {
  const net::TransferLimits limits = net::transferLimits();
  switch (got.outcome) {
    case Exchange::Outcome::Answered: break;
    case Exchange::Outcome::NotSendable:
      report.add(Severity::Breaks, "names no request can carry", shown + ": the name holds a control character",
                 "rename the file and publish again");
      return false;
    case Exchange::Outcome::HostNotFound:
      report.add(Severity::Breaks, "host not found", shown + ": the host name does not resolve",
                 "check the update base's host name and its DNS");
      return false;
    case Exchange::Outcome::ConnectFailed:
      report.add(Severity::Breaks, "connection refused",
                 shown + ": the connection to port 80 failed (error " + std::to_string(got.socketError) + ")",
                 "serve plain HTTP on port 80 for this host (the launcher never uses another port or HTTPS)");
      return false;
    case Exchange::Outcome::ConnectStalled:
      report.add(Severity::Breaks, "connection not answered",
                 shown + ": port 80 did not answer the connection within " + seconds(limits.connectMs),
                 "open port 80 in the firewall and check the server is running");
      return false;
    case Exchange::Outcome::NoHeader:
      report.add(Severity::Breaks, "no HTTP answer", shown + ": the connection closed before a whole HTTP header",
                 "check the server's error log; the request line is \"GET http://host/path HTTP/1.0\"");
      return false;
    case Exchange::Outcome::HeaderTooLong:
      report.add(Severity::Breaks, "header too long",
                 shown + ": the header runs past the " + std::to_string(net::kMaxHeaderBytes / 1024) +
                     " KiB the launcher reads; the launcher fails the download",
                 "send fewer or shorter headers for the update folder (cookies, policies, debugging headers)");
      return false;
    case Exchange::Outcome::Failed:
      if (got.stalled) {
        report.add(Severity::Breaks, "stalled",
                   shown + ": the answer stalled (no byte for " + seconds(limits.receiveMs) + ", or under " +
                       std::to_string(limits.windowBytes / 1024) + " KiB in " + seconds(limits.windowMs) +
                       "); the launcher gives up the same way",
                   "check the server's load and its limits on slow or many connections");
      } else {
        report.add(Severity::Breaks, "connection broken",
                   shown + ": the connection broke during the answer (error " + std::to_string(got.socketError) + ")",
                   "check the server's and the CDN's error logs and time limits");
      }
      return false;
  }
  if (got.longestWait.count() * 2 > static_cast<long long>(limits.receiveMs)) {
    report.add(Severity::Warning, "slow",
               shown + ": waited " + std::to_string(got.longestWait.count()) +
                   " ms for one receive, more than half of the launcher's limit (" + seconds(limits.receiveMs) + ")",
               "check the server's load; a busier day will stall the launcher");
  }
  return true;
}

// Judges a whole answer to `url` for `shown`: the transport, the status (a
// 404 asked again in the origin form), the headers and the body against
// `expected`. True when the launcher would take the body.
bool judgeFile(const std::string& url, const Exchange& got, const std::string& shown, const Expectation& expected,
               Report& report) {
  if (!judgeExchange(got, shown, report)) return false;
  const int code = httpStatus(got.header);
  if (code >= 300 && code < 400) {
    const std::string location = printableName(headerValue(got.header, "Location").value_or("nowhere"));
    report.add(Severity::Breaks, "redirect",
               shown + ": answered \"" + statusLine(got.header) + "\" to " + location +
                   "; the launcher does not follow redirects",
               "serve the file at this address itself: drop the redirect (to HTTPS, another host, a trailing "
               "slash) for the update folder, or name the final host and folder as the update base");
    return false;
  }
  if (!net::statusIsOk(got.header)) {
    if (code == 200) {
      report.add(Severity::Breaks, "status line",
                 shown + ": the status line \"" + statusLine(got.header) + R"(" does not read "200 OK")",
                 "send the standard reason phrase \"OK\" (the launcher reads the status line as it is)");
      return false;
    }
    const Exchange origin = fetch(url, RequestForm::Origin, 0, false);
    if (origin.outcome == Exchange::Outcome::Answered && net::statusIsOk(origin.header)) {
      report.add(Severity::Breaks, "absolute form refused",
                 shown + ": answered \"" + statusLine(got.header) +
                     R"(" to the launcher's absolute-form request ("GET http://host/path") but 200 to "GET /path")",
                 "use a server or CDN that accepts the absolute form, as every HTTP/1.1 server must (nginx, "
                 "lighttpd and Apache do; Python's http.server does not), or map the Host to this site");
    } else {
      const char* fix = code == 401 || code == 403 || code == 407
                            ? "make the update folder public: no login, no address, referrer or user-agent rules"
                        : code >= 500 ? "check the server's (or the CDN's origin) error log"
                                      : "upload the whole published folder (glimmerhold-publish --out) under the "
                                        "update base, names as laid out; check that the server decodes %xx escapes";
      report.add(Severity::Breaks, "not served",
                 shown + ": answered \"" + statusLine(got.header) + "\", in both request forms", fix);
    }
    return false;
  }
  bool good = true;
  if (std::optional<std::string> chunked = headerValue(got.header, "Transfer-Encoding")) {
    report.add(Severity::Breaks, "chunked",
               shown + ": sent with \"Transfer-Encoding: " + printableName(*chunked) +
                   "\"; the launcher stores the body as it arrives",
               "turn off chunked answers for HTTP/1.0 requests (a proxy or CDN that streams: buffer the file, "
               "send its length)");
    good = false;
  }
  if (std::optional<std::string> encoding = headerValue(got.header, "Content-Encoding");
      encoding && net::findNoCase(*encoding, "identity") == net::kNotFound) {
    report.add(Severity::Breaks, "compressed",
               shown + ": sent with \"Content-Encoding: " + printableName(*encoding) +
                   "\"; the launcher would store the compressed bytes",
               "turn off compression for the update folder (nginx: gzip off; a CDN: no compression, no "
               "transcoding or image optimisation for these paths)");
    good = false;
  }
  const net::ContentLength length = net::contentLength(got.header);
  std::optional<std::uint64_t> announced;
  if (length.kind == net::ContentLength::Kind::Unannounced) {
    report.add(Severity::Breaks, "no Content-Length",
               shown + ": no \"Content-Length: \" header; without it the launcher takes only a body of exactly " +
                   std::to_string(kUnannouncedLength) + " bytes",
               "send the length with every file (turn off streaming, compression or chunking in the server, proxy "
               "or CDN)");
    good = false;
  } else if (length.kind == net::ContentLength::Kind::OutOfRange || length.value < 0) {
    report.add(Severity::Breaks, "bad Content-Length",
               shown + ": the Content-Length \"" +
                   printableName(headerValue(got.header, "Content-Length").value_or("")) + "\" is not a usable length",
               "serve the published file as it is");
    good = false;
  } else {
    announced = static_cast<std::uint64_t>(length.value);
    if (expected.limit != 0 && *announced > expected.limit) {
      report.add(Severity::Breaks, "too large",
                 shown + ": Content-Length is " + std::to_string(*announced) +
                     " bytes, more than the launcher takes (" + std::to_string(expected.limit) + ")",
                 "serve the file glimmerhold-publish wrote");
      good = false;
    } else if (expected.size && *announced != *expected.size) {
      report.add(Severity::Breaks, "length differs from the list",
                 shown + ": Content-Length is " + std::to_string(*announced) + " bytes, the list gives " +
                     std::to_string(*expected.size),
                 "serve the published folder as laid out: upload it again, and purge the cache's copy of the file");
      good = false;
    }
  }
  if (!good) return false;
  if (got.bodyBytes != *announced) {
    report.add(Severity::Breaks, "body length differs",
               shown + ": the body " +
                   (got.bodyBytes < *announced ? "ended after " + std::to_string(got.bodyBytes) + " of the "
                                               : std::string("ran past the ")) +
                   std::to_string(*announced) + " bytes announced",
               "check the server's and the CDN's error logs and their limits on answer size and time");
    return false;
  }
  if (!expected.token.empty() && got.bodyToken != expected.token) {
    report.add(Severity::Breaks, "body rewritten",
               shown + ": the body is not the published file (" + bodyLooks(got.body) + ", content token " +
                   got.bodyToken + " where the list gives " + expected.token + ")",
               "serve the files untouched: no compression, transcoding, minifying or portal page for the update "
               "folder; upload the published folder again and purge the cache");
    return false;
  }
  return true;
}

// ---- The whole check -----------------------------------------------------

// The update base, "host/folder/", from "http://host/folder/"; an empty
// text and a reason when the launcher could not use it.
std::string updateBase(const std::string& url, std::string& problem) {
  constexpr std::string_view kScheme = "http://";
  if (url.size() < kScheme.size() || net::findNoCase(url.substr(0, kScheme.size()), kScheme) != 0) {
    problem = "give the update base as http://host/folder/ (the launcher speaks plain HTTP only)";
    return std::string();
  }
  std::string base = url.substr(kScheme.size());
  const std::string host = hostOf(base);
  if (host.empty() || host.find_first_of(":@") != std::string::npos) {
    problem =
        "the launcher connects to port 80 of a host name or address: give http://host/folder/ without a port "
        "or user";
    return std::string();
  }
  if (!net::isSendableUrl(base)) {
    problem = "the update base holds a control character, or its host a blank or a non-ASCII byte";
    return std::string();
  }
  if (base.back() != '/') base += '/';
  return base;
}

// The listed files to fetch: every one, or `sample` of them spread over the
// list, the largest always among them.
std::vector<std::size_t> chosenEntries(const update::VersionList& list, std::size_t sample) {
  std::vector<std::size_t> chosen;
  if (sample == 0 || sample >= list.size()) {
    for (std::size_t i = 0; i < list.size(); ++i) chosen.push_back(i);
    return chosen;
  }
  std::size_t largest = 0;
  for (std::size_t i = 1; i < list.size(); ++i) {
    if (list[i].size > list[largest].size) largest = i;
  }
  chosen.push_back(largest);
  for (std::size_t k = 0; chosen.size() < sample && k < sample; ++k) {
    const std::size_t at = k * list.size() / sample;
    if (at != largest) chosen.push_back(at);
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

// The lines of a list that are not blank.
std::size_t listLines(std::string_view text) {
  std::size_t lines = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    if (text.substr(0, end).find_first_not_of(" \t") != std::string_view::npos) ++lines;
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

bool isContentToken(std::string_view version) {
  return version.size() == update::kMaxEntryVersion &&
         version.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::int64_t nowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The list's and the signature's own faults: a cached or stale list, a
// signature that is missing or does not verify. The list's bytes are in
// `listBytes` when the list was served whole.
void judgeListFreshness(const Exchange& list, const std::string& shown, Report& report) {
  if (std::optional<std::string> age = headerValue(list.header, "Age"); age && *age != "0") {
    report.add(Severity::Warning, "list from a cache",
               shown + ": came from a cache (\"Age: " + printableName(*age) +
                   "\"): after a publish, players may get the old list until it expires",
               "give the list a short cache life (Cache-Control: max-age=60, or no-cache) and purge it on each "
               "publish, or publish each release into a folder of its own");
  }
  const std::optional<long> life = cacheLife(list.header);
  if (!life || *life > kShortCacheSeconds) {
    report.add(Severity::Warning, "list cached long",
               shown +
                   (life ? ": may be cached for " + (*life == std::numeric_limits<long>::max()
                                                         ? std::string("as long as \"Expires\" says")
                                                         : std::to_string(*life) + " s")
                         : std::string(": has no Cache-Control, so caches may keep it as long as they guess")) +
                   "; a stale list holds players on an old release",
               "send \"Cache-Control: max-age=60\" (or no-cache) with the list and its signature, unless each "
               "release has a folder of its own and the page names it");
  }
}

// Reads DIR's list and signature; false (and a message) when the list
// cannot be read.
bool readPublished(const fs::path& folder, std::optional<std::string>& list, std::optional<std::string>& signature,
                   std::ostream& err) {
  const fs::path listPath = folder / update::kVersionListName;
  list = platform::readWholeFile(listPath.c_str(), net::kMaxMemoryBody);
  if (!list) {
    complain(err) << "cannot read \"" << printableName(listPath.string())
                  << "\": --against takes the folder glimmerhold-publish --out laid out\n";
    return false;
  }
  signature = platform::readWholeFile((folder / update::kSignatureName).c_str(), update::kMaxSignatureBytes);
  return true;
}

}  // namespace

const char* const kServerCheckHelp = R"help(
Checking a server:
  --check-server http://HOST/FOLDER/ [--against DIR] [--sample N]
             Ask the server for what the launcher asks, with the launcher's
             own request (absolute form, HTTP/1.0, its headers):
             version_list.txt, version_list.sig, then each listed file, one
             connection at a time, under the launcher's time limits. Prints
             one line per fault with its fix ("FAULT:" for what breaks an
             update, "warning:" for what may hold players on an old
             release): a redirect, a 404 to the absolute form that the
             origin form does not get, chunked or compressed answers, no or
             a wrong Content-Length, a body that is not the file (a portal
             page), a list from a cache, a stall. Exit 0 when nothing breaks
             the launcher, 1 when something does, 2 for a wrong command
             line, 4 when DIR cannot be read.
  --against DIR
             The folder you published (--out DIR): the server's list and
             signature must be its exact bytes.
  --sample N Fetch N of the listed files (the largest and the rest spread
             over the list) instead of every one.
)help";

int checkServer(const ServerCheckOptions& options, std::ostream& out, std::ostream& err) {
  std::string problem;
  const std::string base = updateBase(options.url, problem);
  if (base.empty()) {
    complain(err) << problem << "\n";
    return 2;
  }
  if (options.url.back() != '/') {
    out << "note: the launcher appends names to the update base as it is: the page must name it ending in \"/\" ("
        << printableName(base) << ")\n";
  }
  std::optional<std::string> publishedList;
  std::optional<std::string> publishedSignature;
  if (!options.against.empty() && !readPublished(options.against, publishedList, publishedSignature, err)) return 4;

  if (platform::socketStartup() != 0) {
    complain(err) << "the network could not be started\n";
    return 4;
  }
  struct Cleanup {
    Cleanup() = default;
    ~Cleanup() { platform::socketCleanup(); }
    Cleanup(const Cleanup&) = delete;
    Cleanup& operator=(const Cleanup&) = delete;
    Cleanup(Cleanup&&) = delete;
    Cleanup& operator=(Cleanup&&) = delete;
  } cleanup;

  Report report(out);
  auto finish = [&](std::size_t checked, std::size_t listed) {
    report.finish();
    out << "checked " << printableName(base) << ": the list and " << checked << " of " << listed << " files; "
        << report.breaks() << (report.breaks() == 1 ? " fault" : " faults") << ", " << report.warnings()
        << (report.warnings() == 1 ? " warning" : " warnings") << "\n";
    return report.breaks() == 0 ? 0 : 1;
  };

  // The list, as the launcher fetches it: into memory, up to its limit.
  const std::string listUrl = base + update::kVersionListName;
  const Exchange list = fetch(listUrl, RequestForm::Absolute, net::kMaxMemoryBody, true);
  // Its size is not known in advance: a list that differs from the
  // published one is stale, not cut.
  Expectation listExpected;
  listExpected.limit = net::kMaxMemoryBody;
  if (!judgeFile(listUrl, list, update::kVersionListName, listExpected, report)) return finish(0, 0);
  judgeListFreshness(list, update::kVersionListName, report);
  if (publishedList && list.body != *publishedList) {
    report.add(Severity::Breaks, "stale list",
               std::string(update::kVersionListName) + ": the server's list is not the published one (" +
                   std::to_string(list.body.size()) + " bytes, " + std::to_string(publishedList->size()) +
                   " published): players get another release",
               "upload the published folder again, purge the list from every cache, and give it a short cache life");
  }

  // The signature: required when the published folder has one, checked
  // whenever the server has one.
  const std::string signatureUrl = base + update::kSignatureName;
  const Exchange signature = fetch(signatureUrl, RequestForm::Absolute, update::kMaxSignatureBytes, true);
  const bool signatureServed = signature.outcome == Exchange::Outcome::Answered && net::statusIsOk(signature.header);
  bool signedList = false;
  if (signatureServed || publishedSignature) {
    Expectation signatureExpected;
    signatureExpected.limit = update::kMaxSignatureBytes;
    if (judgeFile(signatureUrl, signature, update::kSignatureName, signatureExpected, report)) {
      signedList = true;
      judgeListFreshness(signature, update::kSignatureName, report);
      const update::UpdateTrust trust = update::compiledUpdateTrust();
      if (publishedSignature && signature.body != *publishedSignature) {
        report.add(Severity::Breaks, "stale signature",
                   std::string(update::kSignatureName) + ": the server's signature is not the published one",
                   "upload the published folder again and purge the signature from every cache");
      } else if (!update::parseListSignature(signature.body)) {
        report.add(Severity::Breaks, "signature malformed",
                   std::string(update::kSignatureName) + ": not a signature file (" + bodyLooks(signature.body) + ")",
                   "serve the version_list.sig glimmerhold-publish --sign wrote, untouched");
      } else if (!trust.keys.empty()) {
        update::ReleaseMark accepted;
        const std::int32_t refusal =
            update::verifyListSignature(trust, list.body, signature.body, {}, nowSeconds(), &accepted);
        if (refusal != 0) {
          report.add(Severity::Breaks, "signature refused",
                     std::string(update::kSignatureName) +
                         ": the launcher this tool was built with refuses the "
                         "served list and signature (code " +
                         std::to_string(refusal) + ")",
                     "serve the list and the signature of one publish together (code 23: a changed or stale list; "
                     "28: expired, sign again with --resign)");
        }
      }
    }
  }

  // A page in the list's place may even read as a list (of nothing): the
  // launcher would then find nothing to fetch.
  update::VersionList entries;
  const std::string looks = bodyLooks(list.body);
  const char* const listEnd = list.body.data() + list.body.size();
  const char* const listStart = update::afterByteOrderMark(list.body.data(), listEnd);
  if (looks != kOtherBytes || !update::parseVersionList(listStart, listEnd, entries)) {
    report.add(Severity::Breaks, "list unreadable",
               std::string(update::kVersionListName) + ": not a version list" +
                   (looks != kOtherBytes ? " but " + looks : std::string()),
               "serve the version_list.txt glimmerhold-publish wrote, untouched");
    return finish(0, 0);
  }
  if (const std::size_t skipped =
          listLines(std::string_view(listStart, static_cast<std::size_t>(listEnd - listStart))) - entries.size();
      skipped != 0) {
    report.add(Severity::Warning, "list lines skipped",
               std::string(update::kVersionListName) + ": " + std::to_string(skipped) +
                   (skipped == 1 ? " line is" : " lines are") + " not an entry; the launcher skips them",
               "serve the version_list.txt glimmerhold-publish wrote, untouched");
  }

  // What the launcher refuses to install it never asks for: neither does
  // this check, which would send requests outside the update folder.
  update::VersionList installable;
  for (const update::VersionEntryRef entry : entries) {
    const update::NameRefusal refusal = update::entryNameRefusal(update::decodeEntryName(entry.name));
    if (refusal == update::NameRefusal::None) {
      installable.append(entry.name, entry.version, entry.size);
      continue;
    }
    report.add(Severity::Warning, "name refused",
               printableName(std::string(entry.name)) + ": the launcher does not install this name (" +
                   std::string(update::nameRefusalText(refusal)) + ") and never asks for it",
               "publish the release with glimmerhold-publish, which refuses such names");
  }
  entries = std::move(installable);

  const std::vector<std::size_t> chosen = chosenEntries(entries, options.sample);
  std::uint64_t totalBytes = 0;
  for (std::size_t at : chosen) totalBytes += entries[at].size;
  Clock::time_point lastProgress = Clock::now();
  std::uint64_t fetchedBytes = 0;
  std::size_t done = 0;
  std::size_t unansweredInARow = 0;
  for (std::size_t at : chosen) {
    if (unansweredInARow == kUnansweredLimit) {
      out << "stopped: " << kUnansweredLimit << " files in a row got no connection or no answer in time\n";
      break;
    }
    const update::VersionEntryRef entry = entries[at];
    const std::string name(entry.name);
    Expectation expected;
    expected.size = entry.size;
    // A list this tool wrote names each file by its content; a signed list's
    // launcher checks it.
    if (signedList || isContentToken(entry.version)) expected.token = std::string(entry.version);
    const std::string url = base + name;
    const Exchange got = fetch(url, RequestForm::Absolute, entry.size, false);
    judgeFile(url, got, printableName(name), expected, report);
    // A server that has stopped answering would cost every file the
    // launcher's whole wait.
    const bool unanswered = got.stalled || got.outcome == Exchange::Outcome::ConnectFailed ||
                            got.outcome == Exchange::Outcome::ConnectStalled ||
                            got.outcome == Exchange::Outcome::HostNotFound;
    unansweredInARow = unanswered ? unansweredInARow + 1 : 0;
    fetchedBytes += got.bodyBytes;
    ++done;
    if (Clock::now() - lastProgress >= std::chrono::seconds(2)) {
      lastProgress = Clock::now();
      err << "checked " << done << " of " << chosen.size() << " files (" << fetchedBytes / kMiB << " of "
          << totalBytes / kMiB << " MiB)\n";
    }
  }
  return finish(done, entries.size());
}

int checkServerMain(int argc, const char* const* argv, int first, std::ostream& out, std::ostream& err) {
  ServerCheckOptions options;
  for (int i = first; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc && argv[i + 1][0] != '\0';
    if (argument == "--check-server" && hasValue && options.url.empty()) {
      options.url = argv[++i];
    } else if (argument == "--against" && hasValue && options.against.empty()) {
      options.against = argv[++i];
    } else if (argument == "--sample" && hasValue && options.sample == 0) {
      const std::string count = argv[++i];
      if (count.size() > 9 || count.find_first_not_of("0123456789") != std::string::npos || std::stoul(count) == 0) {
        complain(err) << "--sample \"" << printableName(count) << "\": give a number of files, 1 or more\n";
        return 2;
      }
      options.sample = std::stoul(count);
    } else {
      complain(err) << "unexpected argument \"" << printableName(argument) << "\" with --check-server (see --help)\n";
      return 2;
    }
  }
  return checkServer(options, out, err);
}

}  // namespace publish
