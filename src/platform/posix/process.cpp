// Processes on POSIX, after CreateProcessA.
//
// The command line is split on blanks (spaces and tabs); a stretch in double
// quotes keeps its blanks, the quotes themselves are dropped. The first word
// names the program, the others are its arguments.
//
// The program is looked for as Windows looks for it: a name with a folder
// separator ("/" or "\") is a path, taken from the current folder when it is
// relative; a bare name is looked for in the launcher's own folder, then in
// the current folder, then in the PATH folders. The name is always used as it
// is written: Windows would also try it with ".exe" appended when it has no
// extension, but no program here is named that way, and on POSIX a name
// without an extension is the usual one.
//
// Files the launcher fetched carry no execute permission here, so the owner
// is given it (u+x) before the start; Windows needs no such step.
//
// The new process gets the launcher's environment, a clean signal state and
// only the standard input, output and error of the launcher: every other
// descriptor is closed in it, as CreateProcessA without handle inheritance
// would have it. posix_spawn reports a file that cannot be executed as an
// error, so such a start gives 0 and leaves no process behind.
//
// The handle is the process id. Nothing waits for the process: like the
// Windows handle, the id stays reserved until the launcher itself ends.
#include "platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace platform {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string> splitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i == line.size()) return words;
    std::string word;
    bool quoted = false;
    for (; i < line.size() && (quoted || !isBlank(line[i])); ++i) {
      if (line[i] == '"') {
        quoted = !quoted;
      } else {
        word.push_back(line[i]);
      }
    }
    words.push_back(std::move(word));
  }
}

std::string nativePath(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::string currentFolder() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return "";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::string launcherFolder() {
  char path[4096];
  std::uint32_t length = moduleFileName(path, sizeof path);
  if (length == 0 || length >= sizeof path) return "";
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('/'));
}

std::string absolute(const std::string& path) {
  return !path.empty() && path.front() == '/' ? path : currentFolder() + "/" + path;
}

bool isRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The program's absolute path, or "" when there is no such file. The path is
// absolute so that a start in another working folder still finds it.
std::string findProgram(const std::string& name) {
  if (name.empty()) return "";
  if (name.find('/') != std::string::npos) {
    std::string path = absolute(name);
    return isRegularFile(path) ? path : "";
  }
  std::vector<std::string> folders{launcherFolder(), currentFolder()};
  const char* searchPath = std::getenv("PATH");
  std::string_view rest = searchPath != nullptr ? searchPath : "";
  while (!rest.empty()) {
    std::size_t colon = rest.find(':');
    // An empty entry stands for the current folder, already searched.
    if (colon != 0) folders.push_back(absolute(std::string(rest.substr(0, colon))));
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    std::string path = folder + "/" + name;
    if (isRegularFile(path)) return path;
  }
  return "";
}

void makeOwnerExecutable(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || (info.st_mode & S_IXUSR) != 0) return;
  // A file we may not change stays as it is; the start then tells.
  ::chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR);
}

// A posix_spawn description (file actions or attributes), destroyed with it.
template <typename T, int (*Init)(T*), int (*Destroy)(T*)>
class SpawnObject {
 public:
  SpawnObject() { ready_ = Init(&object_) == 0; }
  ~SpawnObject() {
    if (ready_) Destroy(&object_);
  }
  SpawnObject(const SpawnObject&) = delete;
  SpawnObject& operator=(const SpawnObject&) = delete;
  bool ready() const { return ready_; }
  T* get() { return &object_; }

 private:
  T object_{};
  bool ready_ = false;
};

using SpawnActions =
    SpawnObject<posix_spawn_file_actions_t, ::posix_spawn_file_actions_init, ::posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnObject<posix_spawnattr_t, ::posix_spawnattr_init, ::posix_spawnattr_destroy>;

}  // namespace

ProcessHandle createProcess(const char* commandLine, const char* workingFolder) {
  if (commandLine == nullptr) return 0;
  std::vector<std::string> words = splitCommandLine(commandLine);
  if (words.empty()) return 0;
  std::string program = findProgram(nativePath(words.front()));
  if (program.empty()) return 0;
  makeOwnerExecutable(program);

  SpawnActions actions;
  SpawnAttributes attributes;
  if (!actions.ready() || !attributes.ready()) return 0;
  if (workingFolder != nullptr && *workingFolder != '\0') {
    std::string folder = nativePath(workingFolder);
    if (::posix_spawn_file_actions_addchdir_np(actions.get(), folder.c_str()) != 0) return 0;
  }
  if (::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1) != 0) return 0;

  // Blocked or ignored signals of the launcher are no concern of the child.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  if (::posix_spawnattr_setsigmask(attributes.get(), &none) != 0 ||
      ::posix_spawnattr_setsigdefault(attributes.get(), &all) != 0 ||
      ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0) {
    return 0;
  }

  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ) != 0) return 0;
  return static_cast<ProcessHandle>(pid);
}

void exitProcess(int code) { std::exit(code); }

}  // namespace platform
