#include "support/nginx_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

// Everything nginx writes goes below `work`: the namespace maps only root,
// and nothing outside the test's folder is touched.
std::string configuration(const std::filesystem::path& work, const std::filesystem::path& root,
                          const std::string& address) {
  std::string w = work.string();
  return "daemon off;\n"
         "master_process off;\n"
         "user root root;\n"
         "worker_processes 1;\n"
         "pid " + w + "/nginx.pid;\n"
         "error_log " + w + "/error.log;\n"
         "events { worker_connections 64; }\n"
         "http {\n"
         "  access_log off;\n"
         "  default_type application/octet-stream;\n"
         "  client_body_temp_path " + w + "/client_body;\n"
         "  proxy_temp_path " + w + "/proxy;\n"
         "  fastcgi_temp_path " + w + "/fastcgi;\n"
         "  uwsgi_temp_path " + w + "/uwsgi;\n"
         "  scgi_temp_path " + w + "/scgi;\n"
         "  server {\n"
         "    listen " + address + ":80;\n"
         "    root " + root.string() + ";\n"
         "  }\n"
         "}\n";
}

bool accepts(const std::string& address) {
  int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(80);
  target.sin_addr.s_addr = ::inet_addr(address.c_str());
  bool connected = ::connect(probe, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0;
  ::close(probe);
  return connected;
}

}  // namespace

NginxServer::NginxServer(const std::filesystem::path& root, const std::string& address) {
  std::filesystem::path conf = work_ / "nginx.conf";
  writeFile(conf, configuration(work_.path(), root, address));
  std::string prefix = work_.str() + "/";
  std::string confPath = conf.string();
  std::string errorPath = (work_ / "error.log").string();
  std::vector<std::string> args = {"nginx", "-p", prefix, "-c", confPath, "-e", errorPath};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  if (::posix_spawn(&pid_, kProgram, nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
    return;
  }
  // Ready when it accepts a connection; given up when it has exited or the
  // time is up.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (accepts(address)) {
      running_ = true;
      return;
    }
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

NginxServer::~NginxServer() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

std::string NginxServer::errorLog() const { return readFile(work_ / "error.log"); }

}  // namespace testsupport
