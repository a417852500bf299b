// A tiny HTTP server for the GUI tests: serves fixed pages from 127.0.0.1:80
// of the test's private network, one connection at a time.
#pragma once

#include <map>
#include <string>
#include <thread>

namespace guitest {

class PageServer {
 public:
  PageServer() = default;
  ~PageServer() { stop(); }
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  // Serves each page (path -> HTML) as text/html; any other path is a 404.
  bool start(std::map<std::string, std::string> pages);
  void stop();

 private:
  void serve();
  void answer(int connection) const;

  std::map<std::string, std::string> pages_;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace guitest
