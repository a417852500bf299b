#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "gtk/gui_support.h"
#include "platform/shell_execute.h"

namespace guitest {
namespace {

// A named pipe in the fake opener's folder, open for reading and writing so
// that opening never blocks and the pipe never reports a hang-up.
class Pipe {
 public:
  explicit Pipe(const char* name) : path_(openerDir() + "/" + name) {
    if (::mkfifo(path_.c_str(), 0600) == 0) fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  }
  ~Pipe() {
    if (fd_ >= 0) ::close(fd_);
    ::unlink(path_.c_str());
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool writeLine() const { return ::write(fd_, "\n", 1) == 1; }

  // One line, waiting at most ten seconds for it.
  bool readLine(std::string* line) const {
    line->clear();
    for (;;) {
      pollfd wait{fd_, POLLIN, 0};
      char c;
      if (::poll(&wait, 1, 10000) <= 0 || ::read(fd_, &c, 1) != 1) return false;
      if (c == '\n') return true;
      *line += c;
    }
  }

 private:
  std::string path_;
  int fd_ = -1;
};

TEST(ShellOpen, HandsTheTargetToTheOpenerWithoutWaitingForIt) {
  Pipe go("go");
  Pipe opened("opened");
  ASSERT_TRUE(go.ok() && opened.ok());
  // The fake opener waits for a line on "go": returning before we send it
  // shows that shellOpen does not wait for the opener.
  platform::shellOpen(u"http://example.test/ñ?a=1&b='2' \"x\"");
  ASSERT_TRUE(go.writeLine());
  std::string line;
  ASSERT_TRUE(opened.readLine(&line));
  EXPECT_EQ(line, "http://example.test/\xC3\xB1?a=1&b='2' \"x\"") << "one argument, UTF-8, untouched by a shell";

  // An empty target is still handed over; what the opener makes of it is its affair.
  platform::shellOpen(u"");
  ASSERT_TRUE(go.writeLine());
  ASSERT_TRUE(opened.readLine(&line));
  EXPECT_EQ(line, "");
}

}  // namespace
}  // namespace guitest
