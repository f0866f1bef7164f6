# The whole program on a real X server: wirelet starts its own driver through
# the service manager, an application moves known bytes through a pty port
# while a monitor window watches it live, and both panes, exported with
# Ctrl+S through the save dialog, hold exactly those bytes. It also saves a
# screenshot of the monitor window, opens a second monitor from the port list
# with the keyboard, takes screenshots of the main window with its background
# and with two monitors, closes monitors by keys, and checks that a quit signal
# under a warning ends the program and leaves no process behind.
#
# It runs as the init of private PID, mount and network namespaces: the
# driver can trace nothing outside the test, and the X server's socket meets
# no other test's.
#
# Usage: WholeProgramTest.py WIRELET VANTRY_SYS TRACE_APP SCREENSHOT
# (background.png and mainwindow.png are saved beside SCREENSHOT)
import csv
import itertools
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from Xlib import X, display, protocol

SKIPPED = 77
MAIN_TITLE = r"^wirelet---V2\.0   https://wirelet\.dev/"
TIMEOUT = 60.0


def eventually(condition, what, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


class CXServer:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            self.name = ":" + f.readline().strip()
        self.display = display.Display(self.name)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.name),
                              capture_output=True, text=True).stdout.split()

    def windows(self, title):
        return [int(w) for w in self.xdotool("search", "--onlyvisible", "--name", title)]

    def focus(self, window):
        self.xdotool("windowfocus", "--sync", str(window))

    def shoot(self, window, path, check=True):
        subprocess.run(["import", "-display", self.name, "-window", str(window), path],
                       check=check)

    def close(self, window):
        """What a window manager sends for the close button."""
        w = self.display.create_resource_object("window", window)
        protocols = self.display.intern_atom("WM_PROTOCOLS")
        delete = self.display.intern_atom("WM_DELETE_WINDOW")
        w.send_event(protocol.event.ClientMessage(window=w, client_type=protocols,
                                                  data=(32, [delete, X.CurrentTime, 0, 0, 0])))
        self.display.flush()

    def main_window(self):
        """The program's main window once it shows, sized for the
        screenshots and focused."""
        main = eventually(lambda: self.windows(MAIN_TITLE), "the main window")[0]
        self.xdotool("windowsize", "--sync", str(main), "760", "560")
        self.focus(main)
        return main


def program_environment(directory, x=None, **extra):
    """The program's environment on the X server x (or with no display), with
    its driver device, service database, profile and runtime folder in
    directory."""
    # Qt on X asks D-Bus for a session bus, and libdbus keeps what its
    # failed attempt allocated: not the program's leak.
    suppressions = os.path.join(directory, "lsan.supp")
    with open(suppressions, "w") as f:
        f.write("leak:libdbus-1.so\n")
    return dict(os.environ, DISPLAY=x.name if x else "", WAYLAND_DISPLAY="",
                QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=directory, XDG_CONFIG_HOME=directory,
                CANBERRA_DRIVER="none",
                LSAN_OPTIONS=os.environ.get("LSAN_OPTIONS", "") + ":suppressions=" + suppressions,
                VANTRY_DEVICE=os.path.join(directory, "Vantry"),
                WIRELET_SCM_ROOT=os.path.join(directory, "scm"), **extra)


def pick_first_port(x, main):
    """A click opens the port list (the toolbar's second item), and Return
    picks its first port."""
    shown = x.windows(".*")
    x.xdotool("mousemove", "--window", str(main), "95", "34", "click", "1")
    eventually(lambda: set(x.windows(".*")) - set(shown), "the open port list")
    x.xdotool("key", "Return")


def export_pane_dialog(x, main, title, path):
    """Ctrl+S, and path given to the save dialog titled title."""
    x.xdotool("key", "ctrl+s")
    dialog = eventually(lambda: x.windows("^" + title + "$"), "the save dialog")[0]
    x.focus(dialog)
    x.xdotool("key", "ctrl+a")
    x.xdotool("type", path)
    x.xdotool("key", "Return")
    eventually(lambda: not x.windows("^" + title + "$"), "the dialog to close")
    # A closed dialog leaves the X focus nowhere (there is no window
    # manager); the main window gives it back to the widget that had it.
    x.focus(main)


def export_pane(x, main, title, path):
    """Saves the active pane to path with Ctrl+S through the save dialog
    titled title; returns the bytes of its hex-dump lines, in order (event
    lines carry no tabs and are left out), and its text."""
    export_pane_dialog(x, main, title, path)
    with open(path, "rb") as f:
        text = f.read().decode("utf-16-le")
    data = bytearray()
    for line in text.split("\r\n"):
        fields = line.split("\t")
        if len(fields) == 17:
            data += bytes(int(pair, 16) for pair in fields[:16] if pair)
    return bytes(data), text


def export_panes(x, main, path, recv_done, send_done, screenshot):
    """Exports the receive pane, then the send pane, to path-recv-N.txt and
    path-send-N.txt until done(data, text) holds for each: formatting runs
    behind the traffic by a batch or two. Returns what send_done did, and
    saves a screenshot of the main window."""
    def export_until(title, name, done):
        attempts = itertools.count(1)
        return eventually(lambda: done(*export_pane(
            x, main, title, "%s-%s-%d.txt" % (path, name, next(attempts)))),
            "the %s pane" % name)

    # The monitor window opens at the top left of the monitor area: a click
    # makes its receive pane active, F6 the send pane below it.
    x.xdotool("mousemove", "--window", str(main), "250", "180", "click", "1")
    export_until("串口接收数据", "recv", recv_done)
    x.xdotool("key", "F6")
    result = export_until("串口发送数据", "send", send_done)
    x.shoot(main, screenshot)
    return result


def export_timeline(x, main, path, screenshot):
    """Shows the active monitor's timeline (Ctrl+T), saves it as CSV (Ctrl+S)
    and goes back to the panes; returns the CSV's rows."""
    x.focus(main)
    x.xdotool("key", "ctrl+t")
    time.sleep(0.5)
    x.shoot(main, screenshot)
    export_pane_dialog(x, main, "导出时间线", path)
    x.xdotool("key", "ctrl+t")
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.reader(f))


def end_program(x, program, main, by_signal=None):
    """Closes the program's main window (with monitors open it warns once;
    Return answers it), or sends the program a signal while a monitor's own
    close warns, inside that close; it must exit 0, and the X server goes."""
    if by_signal:
        x.focus(main)
        shown = x.windows(".*")
        x.xdotool("key", "alt+f")
        eventually(lambda: set(x.windows(".*")) - set(shown), "the File menu")
        x.xdotool("key", "c")
        eventually(lambda: x.windows("^wirelet$"), "the monitor's closing warning")
        program.send_signal(by_signal)
    else:
        x.close(main)
        x.focus(eventually(lambda: x.windows("^wirelet$"), "the closing warning")[0])
        x.xdotool("key", "Return")
    assert program.wait(TIMEOUT) == 0
    x.process.terminate()
    x.process.wait(TIMEOUT)


def nothing_left():
    """True once every process but this namespace's init has ended."""
    try:
        while os.waitpid(-1, os.WNOHANG)[0] != 0:
            pass
    except ChildProcessError:
        pass
    return [p for p in os.listdir("/proc") if p.isdigit() and p != "1"] == []


def pty_port():
    master, slave = os.openpty()
    name = os.ttyname(slave)
    os.close(slave)
    return master, name


class CWholeProgramTest:
    def __init__(self, wirelet, vantry, trace_app, screenshot):
        self.wirelet, self.vantry, self.trace_app = wirelet, vantry, trace_app
        self.screenshot = screenshot
        self.dir = tempfile.mkdtemp()
        # The application owns the slave; the test is the far end of the line.
        self.master, self.port = pty_port()
        self.second_master, self.second_port = pty_port()
        with open(os.path.join(self.dir, "ports"), "w") as f:
            f.write("wp=%s\nwp2=%s\n" % (self.port, self.second_port))
        self.x = CXServer()
        self.env = program_environment(self.dir, self.x,
                                       WIRELET_SERIALCOMM=os.path.join(self.dir, "ports"))
        self.sent = bytes(range(256)) * 2 + b"wirelet whole-program test\r\n"
        self.received = (bytes((7 * i + 3) % 256 for i in range(256)) +
                         b"\r\nOK: 12 Mbaud, live capture, two panes\r\n")
        self.line = b""

    def run(self):
        # No driver runs: the program installs and starts it from its own
        # directory, as the service manager's first service. Its files go
        # to the test's folder, where its dialogs start.
        program = subprocess.Popen([self.wirelet], cwd=self.dir, env=self.env)
        # The splash holds start-up for three seconds first.
        main = self.x.main_window()
        time.sleep(0.5)
        self.x.shoot(main, self.beside("background.png"))

        # It holds the port before the monitor starts: once attached, the
        # driver captures it with either source (ptrace has seized it by then).
        app = subprocess.Popen(
            [self.trace_app, "open", self.port, "say", "held", "hear", "set", "115200", "8N1",
             "write", "".join("\\x%02X" % b for b in self.sent), "say", "written",
             "read", str(len(self.received)), "close"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        assert app.stdout.readline() == "held\n"

        # The port list has the focus from the start: Alt+Down opens it.
        shown = self.x.windows(".*")
        self.x.xdotool("key", "alt+Down")
        eventually(lambda: set(self.x.windows(".*")) - set(shown), "the port list by keyboard")
        self.x.xdotool("key", "Return")
        eventually(self.attached, "the driver to attach the port")
        app.stdin.write("go\n")
        app.stdin.flush()
        assert app.stdout.readline() == "written\n"
        assert eventually(lambda: self.drain(len(self.sent)), "the write") == self.sent
        os.write(self.master, self.received)
        assert app.wait(TIMEOUT) == 0

        text = export_panes(self.x, main, os.path.join(self.dir, "pane"),
                            exactly(self.received), exactly(self.sent), self.screenshot)
        assert "Baud rate set to 115200" in text and "Port closed" in text, text

        # The timeline has both directions in one stream, each byte with its
        # process, and the port's events in the panes' words.
        rows = export_timeline(self.x, main, os.path.join(self.dir, "timeline.csv"),
                               self.beside("timeline.png"))
        data = lambda mark: b"".join(bytes.fromhex(row[4]) for row in rows if row[1] == mark)
        assert data(">") == self.sent and data("<") == self.received, rows
        assert {(row[2], row[3]) for row in rows if row[1] in "<>"} == {
            (str(app.pid), "trace_app")}, rows
        assert any("Baud rate set to 115200" in row[5] for row in rows), rows

        # The second port is now the list's first: the keyboard opens it,
        # and the Window menu tiles both monitors.
        self.x.focus(main)
        pick_first_port(self.x, main)
        eventually(lambda: self.x.windows(MAIN_TITLE + " - " + re.escape(self.second_port)),
                   "the second monitor")
        self.x.focus(main)
        shown = self.x.windows(".*")
        self.x.xdotool("key", "alt+w")
        eventually(lambda: set(self.x.windows(".*")) - set(shown), "the Window menu")
        self.x.xdotool("key", "t")
        time.sleep(0.5)
        self.x.shoot(main, self.beside("mainwindow.png"))

        self.close_by_keys_and_quit(program, main)
        eventually(nothing_left, "every process to end")

    def close_by_keys_and_quit(self, program, main):
        """Both close keys close the active monitor with File → Close's warning; a
        quit signal under it ends the program though the driver is killed."""
        for key in ("ctrl+F4", "ctrl+w"):
            self.x.focus(main)
            active = " ".join(self.x.xdotool("getwindowname", str(main)))
            self.x.xdotool("key", key)
            self.x.focus(eventually(lambda: self.x.windows("^wirelet$"), "the warning")[0])
            self.x.xdotool("key", "Return")
            eventually(lambda: not self.x.windows("^" + re.escape(active) + "$"), key)
            # Attached before the driver is killed: a pick after it would
            # say so in a box, in the way of the keys that follow.
            attaches = self.attached()
            pick_first_port(self.x, main)
            eventually(lambda: self.attached() > attaches, "the port picked again")
        with open(os.path.join(self.env["WIRELET_SCM_ROOT"], "ServicesActive/Vantry/pid")) as f:
            os.kill(int(f.read().split()[0]), signal.SIGKILL)
        end_program(self.x, program, main, signal.SIGTERM)

    def beside(self, name):
        return os.path.join(os.path.dirname(self.screenshot), name)

    def attached(self):
        """How many attaches the driver has logged."""
        log = os.path.join(self.env["WIRELET_SCM_ROOT"], "ServicesActive", "Vantry", "log")
        with open(log) as f:
            return f.read().count("attached handle")

    def drain(self, count):
        if select.select([self.master], [], [], 0.1)[0]:
            self.line += os.read(self.master, 65536)
        return self.line if len(self.line) >= count else None


def exactly(expected):
    """A pane export is done once it holds every byte expected, and never
    holds one that was not moved."""
    def done(data, text):
        assert expected.startswith(data), "the pane holds bytes never moved"
        return text if data == expected else None
    return done


def run_isolated(make_test):
    """Runs make_test().run() as the init of private PID, mount and network
    namespaces (re-running this script there); a failure leaves what the
    screen showed beside the test's screenshot."""
    if os.getpid() != 1:
        if os.geteuid() != 0:
            print("the whole-program tests need root for live capture")
            return SKIPPED
        return subprocess.run(["unshare", "--pid", "--fork", "--mount-proc", "--net",
                               "--kill-child", sys.executable, *sys.argv]).returncode
    # A private socket folder for the X server, so that its socket meets no
    # other test's; /tmp itself stays shared, since the build (and so the
    # programs under test) may well live there.
    os.makedirs("/tmp/.X11-unix", mode=0o1777, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/tmp/.X11-unix"],
                   check=True)
    test = make_test()
    try:
        test.run()
    except BaseException:
        # What the screen showed when it went wrong, beside the screenshot.
        if test.x:
            test.x.shoot("root", test.screenshot.replace(".png", "-failed.png"), check=False)
        raise
    finally:
        shutil.rmtree(test.dir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(run_isolated(lambda: CWholeProgramTest(*sys.argv[1:4],
                                                    os.path.abspath(sys.argv[4]))))
