// The GUI tests' world: a private X server, GTK on it, the test pages on the
// loopback of the private network (netns_main has moved the process there
// before any test), and a fake desktop opener first on PATH so that no test
// ever opens a real browser.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "gtk/gui_support.h"
#include "gtk/page_server.h"
#include "platform/browser.h"

namespace guitest {

namespace {

constexpr int kXServerStartMs = 20000;

// The page the browser tests load. Elements sit at fixed places so that the
// real pointer can press them.
constexpr const char* kTestPage = R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>test page</title></head>
<body xwidth="800" xheight="600" oncontextmenu="return false" style="margin:0">
<div id="boton-jugar" style="position:absolute;left:0;top:0;width:200px;height:100px;background:#c00">
  <span id="inner" style="position:absolute;left:50px;top:30px;width:100px;height:40px;background:#0c0">Play</span>
</div>
<input id="field" style="position:absolute;left:0;top:150px;width:200px;height:30px">
<div id="unbound" style="position:absolute;left:300px;top:0;width:100px;height:100px"></div>
<div style="position:absolute;left:0;top:250px">
  <a id="first" href="#" xhref="http://example.test/a?x=1&amp;y=2">A</a>
  <a id="second" href="#">B</a>
  <a id="third" href="#" xhref="">C</a>
</div>
<script>
var notAFunction = 5;
var presses = [];
document.addEventListener('mousedown', (event) => {
  presses.push(event.target.id + '/' + event.button + '/' + event.defaultPrevented);
});
function setVariableText(text) { document.title = text; }
function describe(value) { return typeof value + ':' + String(value); }
function echo(value) { return value; }
function nothing(value) {}
function makeObject() { return {a: 1}; }
function half() { return 1.5; }
function withNul() { return 'a\u0000b'; }
function alerting() { alert('in the way'); return 'after ' + confirm('sure?'); }
function thrower() { throw new Error('thrown on purpose'); }
function busy(ms) { const end = Date.now() + ms; while (Date.now() < end) {} return 'done'; }
function defineLater() { window.later = function () { return 'later'; }; }
function readPresses() { return presses.join(','); }
function focusedId() { return document.activeElement ? document.activeElement.id : ''; }
function centreOf(id) {
  const box = document.getElementById(id).getBoundingClientRect();
  return Math.round(box.left + box.width / 2) + ',' + Math.round(box.top + box.height / 2);
}
function pressByScript(id) {
  document.getElementById(id).dispatchEvent(new MouseEvent('mousedown', {bubbles: true, button: 1}));
}
function originalHandlerRuns() { return window.originalRan === true; }
document.getElementById('unbound').onmousedown = () => { window.originalRan = true; };
</script>
</body></html>)HTML";

constexpr const char* kSecondPage = R"HTML(<!DOCTYPE html>
<html><body><p>second</p><script>function whoAmI() { return 'second'; }</script></body></html>)HTML";

// The fake opener: waits for a line on "go" when that pipe exists, then
// writes its argument to the "opened" pipe when that exists.
constexpr const char* kFakeOpener = R"SH(#!/bin/sh
dir=$(dirname "$0")
if [ -p "$dir/go" ]; then read -r _ < "$dir/go"; fi
if [ -p "$dir/opened" ]; then printf '%s\n' "$1" > "$dir/opened"; fi
)SH";

std::string gOpenerDir;

class GuiEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    ASSERT_STREQ(std::getenv("GLIMMERHOLD_PRIVATE_NETWORK"), "1");
    ASSERT_TRUE(startXServer());
    ::setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus in the private world
    ASSERT_TRUE(makeFakeOpener());
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    ASSERT_TRUE(platform::atlAxWinInit());
    ASSERT_TRUE(server_.start({{"/page.html", kTestPage}, {"/second.html", kSecondPage}}));
  }

  void TearDown() override {
    server_.stop();
    platform::atlAxWinTerm();
    // GTK 3 cannot close its display cleanly; the connection simply ends
    // with the X server, and nothing talks to it after the tests.
    if (xServer_ > 0) {
      ::kill(xServer_, SIGTERM);
      ::waitpid(xServer_, nullptr, 0);
    }
    std::error_code ignored;
    if (!gOpenerDir.empty()) std::filesystem::remove_all(gOpenerDir, ignored);
  }

 private:
  // Xvfb picks a free display itself and writes its number to a pipe once it
  // accepts clients, so there is neither a race for a display number nor a
  // wait on a socket file.
  bool startXServer() {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return false;
    xServer_ = ::fork();
    if (xServer_ < 0) return false;
    if (xServer_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::fcntl(ready[1], F_SETFD, 0);
      const int quiet = ::open("/dev/null", O_WRONLY);
      ::dup2(quiet, STDOUT_FILENO);
      ::dup2(quiet, STDERR_FILENO);
      const std::string fd = std::to_string(ready[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0", "1280x1024x24",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(ready[1]);
    std::string number;
    pollfd wait{ready[0], POLLIN, 0};
    while (::poll(&wait, 1, kXServerStartMs) > 0) {
      char c;
      if (::read(ready[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    ::close(ready[0]);
    if (number.empty()) return false;
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
  }

  bool makeFakeOpener() {
    char pattern[] = "/tmp/glimmerhold-gui-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return false;
    gOpenerDir = pattern;
    const std::string script = gOpenerDir + "/xdg-open";
    std::ofstream(script) << kFakeOpener;
    if (::chmod(script.c_str(), 0755) != 0) return false;
    const char* path = std::getenv("PATH");
    ::setenv("PATH", (gOpenerDir + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);
    return true;
  }

  pid_t xServer_ = -1;
  PageServer server_;
};

[[maybe_unused]] testing::Environment* const gEnvironment = testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace

const std::string& openerDir() { return gOpenerDir; }

}  // namespace guitest
