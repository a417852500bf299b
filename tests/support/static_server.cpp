#include "support/static_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
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
                               const std::string& address, const std::string& rules) {
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
         root.string() + ";\n" + rules +
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
                                     const std::string& address, const std::string& rules) {
  if (kind == StaticServerKind::Lighttpd) {
    std::filesystem::path conf = work / "lighttpd.conf";
    writeFile(conf, lighttpdConfiguration(work.path(), root, address));
    return {"/usr/sbin/lighttpd", "-D", "-f", conf.string()};
  }
  std::filesystem::path conf = work / "nginx.conf";
  writeFile(conf, nginxConfiguration(work.path(), root, address, rules));
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

// Starts the program in the foreground (its output to `log` when given) and
// waits until it accepts connections on address:80; given up when it has
// exited or the time is up. The pid, -1 when it did not start.
pid_t startServer(std::vector<std::string> args, const std::string& address, bool& running,
                  const std::filesystem::path& log = {}) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  if (!log.empty()) {
    ::posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (accepts(address)) {
      running = true;
      return pid;
    }
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pid;
}

void stopServer(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

const char* const kVarnish = "/usr/sbin/varnishd";

}  // namespace

StaticServer::StaticServer(StaticServerKind kind, const std::filesystem::path& root, const std::string& address,
                           const std::string& nginxRules) {
  pid_ = startServer(commandLine(kind, work_, root, address, nginxRules), address, running_);
}

StaticServer::~StaticServer() { stopServer(pid_); }

std::string StaticServer::errorLog() const { return readFile(work_ / "error.log"); }

bool CachingProxy::available() { return ::access(kVarnish, X_OK) == 0; }

// -j none: the namespace maps only root, so no other user to drop to; the
// working folder (-n) and the cache (in memory) are the test's own.
CachingProxy::CachingProxy(const std::string& backend, const std::string& address) {
  pid_ = startServer({kVarnish, "-F", "-j", "none", "-n", (work_ / "varnish").string(), "-a", address + ":80", "-b",
                      backend + ":80", "-s", "malloc,64m", "-p", "vsl_space=1m"},
                     address, running_, work_ / "varnish.log");
}

CachingProxy::~CachingProxy() { stopServer(pid_); }

std::string CachingProxy::log() const { return readFile(work_ / "varnish.log"); }

}  // namespace testsupport
