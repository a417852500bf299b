#include "support/static_server.h"

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

// Everything a server writes goes below `work`: the namespace maps only
// root, and nothing outside the test's folder is touched.
std::string nginxConfiguration(const std::filesystem::path& work, const std::filesystem::path& root,
                               const std::string& address, const std::string& serverLines) {
  std::string w = work.string();
  return "daemon off;\n"
         "master_process off;\n"
         "user root root;\n"
         "worker_processes 1;\n"
         "pid " +
         w +
         "/nginx.pid;\n"
         "error_log " +
         w +
         "/error.log;\n"
         "events { worker_connections 64; }\n"
         "http {\n"
         "  access_log off;\n"
         "  default_type application/octet-stream;\n"
         "  client_body_temp_path " +
         w +
         "/client_body;\n"
         "  proxy_temp_path " +
         w +
         "/proxy;\n"
         "  fastcgi_temp_path " +
         w +
         "/fastcgi;\n"
         "  uwsgi_temp_path " +
         w +
         "/uwsgi;\n"
         "  scgi_temp_path " +
         w +
         "/scgi;\n"
         "  server {\n"
         "    listen " +
         address +
         ":80;\n"
         "    root " +
         root.string() + ";\n" + serverLines +
         "  }\n"
         "}\n";
}

std::string lighttpdConfiguration(const std::filesystem::path& work, const std::filesystem::path& root,
                                  const std::string& address) {
  std::string w = work.string();
  return "server.document-root = \"" + root.string() +
         "\"\n"
         "server.bind = \"" +
         address +
         "\"\n"
         "server.port = 80\n"
         "server.username = \"\"\n"
         "server.pid-file = \"" +
         w +
         "/lighttpd.pid\"\n"
         "server.errorlog = \"" +
         w +
         "/error.log\"\n"
         "server.modules = ()\n"
         "mimetype.assign = ( \"\" => \"application/octet-stream\" )\n"
         // Its URL normalization answers 400 to some escaped Latin-1 bytes
         // ("%fa", the ú the launcher escapes); the file lookup still
         // confines the path to the document root without it.
         "server.http-parseopts = ( \"url-normalize\" => \"disable\" )\n"
         // Its file information cache would serve the old list for a
         // moment after the served folder is swapped for a new release.
         "server.stat-cache-engine = \"disable\"\n";
}

// The command line that runs the server in the foreground.
std::vector<std::string> commandLine(StaticServerKind kind, const TempDir& work, const std::filesystem::path& root,
                                     const std::string& address, const std::string& nginxLines) {
  if (kind == StaticServerKind::Lighttpd) {
    std::filesystem::path conf = work / "lighttpd.conf";
    writeFile(conf, lighttpdConfiguration(work.path(), root, address));
    return {"/usr/sbin/lighttpd", "-D", "-f", conf.string()};
  }
  std::filesystem::path conf = work / "nginx.conf";
  writeFile(conf, nginxConfiguration(work.path(), root, address, nginxLines));
  return {"/usr/sbin/nginx", "-p", work.str() + "/", "-c", conf.string(), "-e", (work / "error.log").string()};
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

StaticServer::StaticServer(StaticServerKind kind, const std::filesystem::path& root, const std::string& address,
                           const std::string& nginxLines) {
  std::vector<std::string> args = commandLine(kind, work_, root, address, nginxLines);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
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

StaticServer::~StaticServer() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

std::string StaticServer::errorLog() const { return readFile(work_ / "error.log"); }

}  // namespace testsupport
