#!/usr/bin/env python3
"""End-to-end tests of the real launcher: the built Launcher.exe with
WebKitGTK under Xvfb, the demo launcher page and update files served by nginx
on port 80 of this process's own network namespace.

Run as: unshare -rmn python3 launcher_e2e.py LAUNCHER PUBLISH_TOOL REPO_ROOT
(ctest does this; the mount namespace lets a test mount the installation
read-only). Every wait is bounded; nothing is sent off the loopback.
"""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

LAUNCHER = None
PUBLISH = None
REPO = None

PAGE_WIDTH, PAGE_HEIGHT = 900, 560
PLAY = (770, 505)
CLOSE = (855, 49)

# Limits for a loaded two-core machine: the launcher built with the
# sanitizers starts WebKit while other builds take both cores. Every wait
# ends as soon as its event is seen, so these cost nothing on a quiet one.
STARTUP = 180    # the launcher's window appears, or a box it shows
UPDATE = 240     # the installation is up to date
ACTION = 90      # a file lands, the game starts, a process ends
SERVICE = 60     # Xvfb or nginx is up


def wait_for(condition, seconds, what, process=None):
    """Polls `condition` until it holds; fails at once when `process` (a
    launcher the condition waits on) ends first, with its output."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        if process is not None and process.poll() is not None:
            raise AssertionError("the launcher ended (exit %s) while waiting for %s; output:\n%s"
                                 % (process.returncode, what, process.stdout.read()))
        time.sleep(0.05)
    raise AssertionError("timed out after %ss waiting for %s" % (seconds, what))


def run(*args, **kwargs):
    return subprocess.run(args, check=False, capture_output=True, text=True, **kwargs)


class Display:
    """A private X server for the whole run. Xvfb picks a free display and
    writes its number once it accepts clients. It never resets: by default an
    X server resets when its last client leaves, and a launcher started just
    after another ended could not open the display while it did."""

    def __init__(self):
        ready, write_end = os.pipe()
        self.process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp",
                                         "-screen", "0", "1280x900x24"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(ready) as pipe:
            if not select.select([pipe], [], [], SERVICE)[0]:
                raise AssertionError("Xvfb did not start within %ss" % SERVICE)
            number = pipe.readline().strip()
        if not number:
            raise AssertionError("Xvfb ended without a display")
        self.name = ":" + number
        os.environ["DISPLAY"] = self.name

    def stop(self):
        self.process.terminate()
        self.process.wait(SERVICE)


class Site:
    """A launcher page and update files served by nginx on 127.0.0.1:80."""

    def __init__(self, root):
        self.root = root
        self.www = os.path.join(root, "www")
        self.content = os.path.join(root, "content")
        os.makedirs(self.www)
        for name in os.listdir(os.path.join(REPO, "demo", "page")):
            shutil.copy(os.path.join(REPO, "demo", "page", name), self.www)
        self.nginx = None

    def put(self, name, data):
        path = os.path.join(self.content, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def publish(self):
        subprocess.run([PUBLISH, "--out", os.path.join(self.www, "glimmerhold"), self.content],
                       check=True, stdout=subprocess.DEVNULL)

    def served_list(self):
        with open(os.path.join(self.www, "glimmerhold", "version_list.txt"), "rb") as f:
            return f.read()

    def start(self):
        with open(os.path.join(REPO, "demo", "nginx.conf.in")) as f:
            config = f.read().replace("@RUN@", self.root).replace("@ROOT@", self.www)
        path = os.path.join(self.root, "nginx.conf")
        with open(path, "w") as f:
            f.write(config)
        self.nginx = subprocess.Popen(["nginx", "-c", path], stderr=subprocess.DEVNULL)
        wait_for(lambda: run("curl", "-sf", "-o", "/dev/null", "http://127.0.0.1/instalador.php").returncode == 0,
                 SERVICE, "nginx")

    def requests(self):
        """The paths requested so far, from nginx's access log."""
        path = os.path.join(self.root, "nginx-access.log")
        if not os.path.exists(path):
            return []
        paths = []
        with open(path, errors="replace") as f:
            for line in f:
                if '"' not in line:
                    continue
                target = line.split('"')[1].split(" ")[1]
                # The launcher asks in absolute form: "http://host/path".
                if target.startswith("http://"):
                    target = "/" + target[len("http://"):].partition("/")[2]
                paths.append(target)
        return paths

    def file_requests(self):
        return [r for r in self.requests() if "/glimmerhold/" in r and not r.endswith("/version_list.txt")]

    def stop(self):
        if self.nginx:
            self.nginx.terminate()
            self.nginx.wait(SERVICE)


class LauncherTest(unittest.TestCase):
    display = None

    @classmethod
    def setUpClass(cls):
        cls.display = Display()

    @classmethod
    def tearDownClass(cls):
        cls.display.stop()

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="glimmerhold-e2e-")
        self.site = Site(os.path.join(self.scratch, "server"))
        self.install = os.path.join(self.scratch, "install")
        os.makedirs(self.install)
        self.registry = os.path.join(self.scratch, "user.reg")
        with open(self.registry, "w") as f:
            f.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold]\n"
                    "\"InstallPath\"=\"%s\"\n\"Lenguaje_h144357406\"=\"en-US\"\n"
                    % self.install.replace("\\", "\\\\"))
        self.processes = []

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait(SERVICE)
        self.site.stop()
        shutil.rmtree(self.scratch, ignore_errors=True)

    # The launcher.

    def start_launcher(self, program=None, args=()):
        env = dict(os.environ)
        env["GLIMMERHOLD_REGISTRY_FILE"] = self.registry
        # GTK and WebKit keep memory until exit by design; leaks of the
        # launcher's own code are covered by the unit tests.
        env["ASAN_OPTIONS"] = "detect_leaks=0"
        process = subprocess.Popen([program or LAUNCHER, *args], env=env, cwd=self.scratch,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.processes.append(process)
        return process

    def window_of(self, process, seconds=STARTUP):
        def find():
            result = run("xdotool", "search", "--onlyvisible", "--pid", str(process.pid))
            ids = [line for line in result.stdout.split() if line]
            for window in ids:
                geometry = run("xdotool", "getwindowgeometry", window).stdout
                if "%dx%d" % (PAGE_WIDTH, PAGE_HEIGHT) in geometry:
                    return window
            return None
        return wait_for(find, seconds, "the launcher window", process)

    def press(self, window, point, button=1):
        run("xdotool", "mousemove", "--window", window, str(point[0]), str(point[1]))
        run("xdotool", "mousedown", str(button))
        run("xdotool", "mouseup", str(button))

    def answer_box(self, title, seconds=STARTUP):
        def find():
            ids = run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % title).stdout.split()
            return ids[0] if ids else None
        box = wait_for(find, seconds, "a message box titled %r" % title)
        run("xdotool", "windowfocus", "--sync", box, "key", "Return")

    def wait_exit(self, process, seconds=ACTION):
        try:
            return process.wait(seconds)
        except subprocess.TimeoutExpired:
            raise AssertionError("the launcher did not end; output:\n" + self.output(process))

    def output(self, process):
        if process.poll() is None:
            return "(still running)"
        return process.stdout.read()

    def local_list(self):
        path = os.path.join(self.install, "version_list.txt")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def wait_up_to_date(self, seconds=UPDATE):
        served = sorted(self.site.served_list().splitlines())
        wait_for(lambda: self.local_list() is not None and sorted(self.local_list().splitlines()) == served,
                 seconds, "the installation to be up to date")

    def read_install(self, name):
        try:
            with open(os.path.join(self.install.encode(), name), "rb") as f:
                return f.read()
        except OSError as error:
            print("cannot read", name, error, oct(os.stat(os.path.join(self.install.encode(), name)).st_mode))
            raise

    # The game files the tests serve.

    def publish_game(self):
        self.site.put("Glimmerhold.exe", b"#!/bin/sh\npwd > glimmerhold-ran.txt\n")
        self.site.put("data/maps/deepway.pak", bytes(range(256)) * 12288)  # 3 MiB
        self.site.put("read me.txt", b"hello\n")
        self.site.put("Espa\u00f1a.txt", b"hola\n")
        self.site.put("settings.ini", b"[graphics]\nwidth=1920\n")
        self.site.publish()

    # The tests.

    def test_first_run_fetches_all_second_nothing_then_play_starts_the_game(self):
        self.publish_game()
        self.site.start()

        launcher = self.start_launcher()
        window = self.window_of(launcher)
        self.wait_up_to_date()
        self.assertEqual(self.read_install(b"data/maps/deepway.pak"), bytes(range(256)) * 12288)
        self.assertEqual(self.read_install(b"read me.txt"), b"hello\n")
        # The escaped letter lands as the letter itself, in UTF-8.
        self.assertEqual(self.read_install("Espa\u00f1a.txt".encode()), b"hola\n")
        self.assertEqual(len(self.site.file_requests()), 5)
        # Play is enabled once the run has finished; pressing it starts the game
        # in the installation folder and ends the launcher with 0.
        ran = os.path.join(self.install, "glimmerhold-ran.txt")
        wait_for(lambda: (self.press(window, PLAY), os.path.exists(ran))[1], ACTION, "the game to start")
        self.assertEqual(self.wait_exit(launcher), 0)
        with open(ran) as f:
            self.assertEqual(os.path.realpath(f.read().strip()), os.path.realpath(self.install))
        # The log support asks for: what was fetched, and how the run ended.
        log = self.read_install(b"Launcher.log").decode("utf-8").splitlines()
        events = [line.split(" ", 1)[1] for line in log]
        self.assertTrue(events[0].startswith("start: version "), log)
        self.assertIn("list version_list.txt: %d bytes, 5 entries; 5 to fetch, 3072 KiB (unsigned updates)"
                      % len(self.site.served_list()), events)
        self.assertTrue(any(e.startswith("fetched data/maps/deepway.pak: 3145728 bytes in ") for e in events), log)
        self.assertIn("up to date", events)
        self.assertIn("play: Glimmerhold.exe started", events)
        self.assertEqual(events[-1], "end")

        # A second run fetches nothing; Close ends it with 0.
        before = len(self.site.file_requests())
        launcher = self.start_launcher()
        window = self.window_of(launcher)
        wait_for(lambda: self.site.requests().count("/glimmerhold/version_list.txt") >= 2, STARTUP, "the list fetch")
        self.press(window, CLOSE)
        self.assertEqual(self.wait_exit(launcher), 0)
        self.assertEqual(len(self.site.file_requests()), before)

    def test_a_second_launcher_on_the_same_installation_neither_fetches_nor_writes(self):
        self.publish_game()
        self.site.start()
        first = self.start_launcher()
        window = self.window_of(first)
        self.wait_up_to_date()
        requests = len(self.site.requests())
        listed = self.local_list()
        second = self.start_launcher()
        self.answer_box("Glimmerhold Updater")
        self.assertEqual(self.wait_exit(second), 0)
        self.assertEqual(len(self.site.requests()), requests)
        self.assertEqual(self.local_list(), listed)
        self.press(window, CLOSE)
        self.assertEqual(self.wait_exit(first), 0)

    def test_an_installation_the_player_cannot_write_plays_or_says_it_cannot_be_written(self):
        # The game notes where it ran outside the installation, which will
        # be read-only.
        ran = os.path.join(self.scratch, "game-ran.txt")
        self.publish_game()
        self.site.put("Glimmerhold.exe", ("#!/bin/sh\npwd > '%s'\n" % ran).encode())
        self.site.publish()
        self.site.start()
        launcher = self.start_launcher()
        window = self.window_of(launcher)
        self.wait_up_to_date()
        # Played once while it could be written: the game has its execute
        # permission, which the launcher gives a program as it first starts
        # it (and could not give it on a read-only medium).
        wait_for(lambda: (self.press(window, PLAY), os.path.exists(ran))[1], ACTION, "the game to start")
        self.assertEqual(self.wait_exit(launcher), 0)
        os.remove(ran)
        # A read-only medium with no lock file on it: none can be made.
        os.remove(os.path.join(self.install, "Launcher.lock"))
        listed = self.local_list()
        subprocess.run(["mount", "--bind", self.install, self.install], check=True)
        try:
            subprocess.run(["mount", "-o", "remount,bind,ro", self.install], check=True)
            # Up to date: no box, and Play starts the game.
            launcher = self.start_launcher()
            window = self.window_of(launcher)
            wait_for(lambda: (self.press(window, PLAY), os.path.exists(ran))[1], ACTION, "the game to start")
            self.assertEqual(self.wait_exit(launcher), 0)
            # Something to fetch: the error box, not "already running", and
            # no file asked for.
            self.site.put("settings.ini", b"[graphics]\nwidth=2560\n")
            self.site.publish()
            before = len(self.site.file_requests())
            launcher = self.start_launcher()
            self.answer_box("Error")
            self.assertEqual(self.wait_exit(launcher), 0)
            self.assertEqual(len(self.site.file_requests()), before)
        finally:
            run("umount", "-l", self.install)
        self.assertEqual(self.local_list(), listed)
        self.assertFalse(os.path.exists(os.path.join(self.install, "Launcher.lock")))

    def test_a_changed_small_file_is_fetched_again_alone(self):
        self.publish_game()
        self.site.start()
        launcher = self.start_launcher()
        window = self.window_of(launcher)
        self.wait_up_to_date()
        self.press(window, CLOSE)
        self.assertEqual(self.wait_exit(launcher), 0)

        self.site.put("settings.ini", b"[graphics]\nwidth=2560\n")
        self.site.publish()
        before = len(self.site.file_requests())
        launcher = self.start_launcher()
        window = self.window_of(launcher)
        self.wait_up_to_date()
        self.assertEqual(self.site.file_requests()[before:], ["/glimmerhold/settings.ini"])
        self.assertEqual(self.read_install(b"settings.ini"), b"[graphics]\nwidth=2560\n")
        self.press(window, CLOSE)
        self.assertEqual(self.wait_exit(launcher), 0)

    def test_a_failed_download_shows_the_error_and_keeps_what_was_fetched(self):
        self.publish_game()
        # The list names one more file than the server has.
        listing = os.path.join(self.site.www, "glimmerhold", "version_list.txt")
        with open(listing, "ab") as f:
            f.write(b"zz-missing.pak 0123abcd 5000\n")
        self.site.start()
        launcher = self.start_launcher()
        self.answer_box("Error")
        self.assertEqual(self.wait_exit(launcher), 0)
        recorded = self.local_list().decode("latin-1")
        self.assertIn("data/maps/deepway.pak", recorded)
        self.assertNotIn("zz-missing.pak", recorded)
        self.assertFalse(os.path.exists(os.path.join(self.install, "zz-missing.pak")))

    def test_a_page_without_set_variable_text_is_rejected(self):
        self.publish_game()
        page = os.path.join(self.site.www, "launcher.js")
        with open(page) as f:
            script = f.read()
        with open(page, "w") as f:
            f.write(script.replace("window.setVariableText", "window.notTheLauncherPage"))
        self.site.start()
        launcher = self.start_launcher()
        self.answer_box("Glimmerhold Updater")
        self.assertEqual(self.wait_exit(launcher), 0)
        self.assertIsNone(self.local_list(), "nothing is fetched for a page that is not the launcher's")

    def test_an_unreachable_page_host_gives_a_box_and_the_next_start_runs(self):
        # Nothing listens on port 80: the page fails, the box says so, the
        # launcher ends and lets go of the installation.
        launcher = self.start_launcher()
        self.answer_box("Glimmerhold Updater")
        self.assertEqual(self.wait_exit(launcher), 0)
        self.assertIsNone(self.local_list())
        self.publish_game()
        self.site.start()
        launcher = self.start_launcher()
        window = self.window_of(launcher)
        self.press(window, CLOSE)
        self.assertEqual(self.wait_exit(launcher), 0)

    def test_without_a_display_the_launcher_says_why_and_ends_with_zero(self):
        env = dict(os.environ, GLIMMERHOLD_REGISTRY_FILE=self.registry, ASAN_OPTIONS="detect_leaks=0")
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        result = subprocess.run([LAUNCHER], env=env, cwd=self.scratch, capture_output=True, text=True,
                                timeout=ACTION, check=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("no display", result.stderr)

    def test_a_new_launcher_on_the_server_replaces_the_installed_one(self):
        with open(LAUNCHER, "rb") as f:
            program = f.read()
        # Two launchers that differ only in trailing bytes, both runnable.
        old, new = program + b"\0old launcher", program + b"\0new launcher"
        self.publish_game()
        self.site.put("Launcher.exe", new)
        self.site.publish()
        installed = os.path.join(self.install, "Launcher.exe")
        with open(installed, "wb") as f:
            f.write(old)
        os.chmod(installed, 0o755)
        self.site.start()

        first = self.start_launcher(installed)
        # The old launcher fetches the new one as Launcher.exe.tmp, starts it
        # with /pause and ends; the new one says so, then copies itself over.
        self.assertEqual(self.wait_exit(first, UPDATE), 0)
        self.assertIn("/glimmerhold/Launcher.exe", self.site.file_requests())
        self.answer_box("Glimmerhold Updater")
        wait_for(lambda: self.read_install(b"Launcher.exe") == new, ACTION, "the launcher to be replaced")
        self.wait_up_to_date()
        self.assertTrue(os.path.exists(installed + ".tmp"))
        pauses = [p for p in run("pgrep", "-af", "Launcher.exe.tmp").stdout.splitlines() if "/pause" in p]
        self.assertTrue(pauses, "the replacement runs as Launcher.exe.tmp /pause")
        restarted = int(pauses[0].split()[0])
        window = wait_for(lambda: run("xdotool", "search", "--onlyvisible", "--pid", str(restarted)).stdout.split(),
                          STARTUP, "the restarted launcher's window")[0]
        self.press(window, CLOSE)
        wait_for(lambda: run("kill", "-0", str(restarted)).returncode != 0, ACTION, "the restarted launcher to end")

        # The next ordinary start removes the left-over and fetches nothing.
        before = len(self.site.file_requests())
        again = self.start_launcher(installed)
        window = self.window_of(again)
        wait_for(lambda: not os.path.exists(installed + ".tmp"), STARTUP, "Launcher.exe.tmp to be removed")
        wait_for(lambda: self.site.requests().count("/glimmerhold/version_list.txt") >= 3, STARTUP, "the list fetch")
        self.press(window, CLOSE)
        self.assertEqual(self.wait_exit(again), 0)
        self.assertEqual(len(self.site.file_requests()), before)


if __name__ == "__main__":
    LAUNCHER = os.path.abspath(sys.argv.pop(1))
    PUBLISH = os.path.abspath(sys.argv.pop(1))
    REPO = os.path.abspath(sys.argv.pop(1))
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    unittest.main(verbosity=2)
