// Static web servers from the distribution (nginx, lighttpd), run by a test
// in the foreground to serve a folder on port 80 of the test's private
// loopback: servers nobody here wrote, to check the client against.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace testsupport {

enum class StaticServerKind { Nginx, Lighttpd };

class StaticServer {
 public:
  // Starts the server serving `root` on address:80 and waits, bounded,
  // until it accepts connections. `nginxRules` go into nginx's server block
  // (per-location headers, say).
  StaticServer(StaticServerKind kind, const std::filesystem::path& root, const std::string& address = "127.0.0.1",
               const std::string& nginxRules = "");
  // Stops the server and waits for it.
  ~StaticServer();
  StaticServer(const StaticServer&) = delete;
  StaticServer& operator=(const StaticServer&) = delete;

  bool running() const { return running_; }
  // The server's error log, for a failure message.
  std::string errorLog() const;

 private:
  TempDir work_;
  pid_t pid_ = -1;
  bool running_ = false;
};

class NginxServer : public StaticServer {
 public:
  explicit NginxServer(const std::filesystem::path& root, const std::string& address = "127.0.0.1",
                       const std::string& rules = "")
      : StaticServer(StaticServerKind::Nginx, root, address, rules) {}
};

// Varnish, the distribution's caching proxy, on address:80 in front of the
// server on backend:80, with its built-in rules: it keeps what the server
// lets it keep (120 s when the server says nothing), whatever the client's
// "Pragma: no-cache", and nothing marked "Cache-Control: no-cache".
class CachingProxy {
 public:
  // Whether varnishd is installed.
  static bool available();
  CachingProxy(const std::string& backend, const std::string& address = "127.0.0.1");
  ~CachingProxy();
  CachingProxy(const CachingProxy&) = delete;
  CachingProxy& operator=(const CachingProxy&) = delete;

  bool running() const { return running_; }
  std::string log() const;

 private:
  TempDir work_;
  pid_t pid_ = -1;
  bool running_ = false;
};

}  // namespace testsupport
