# ./run.sh with the demo port, as a newcomer runs it: without a display its
# console shows the demo's live traffic, and with one the program's panes
# do; either way exactly the bytes the sample application wrote and read, as
# its transcript says, and nothing is left running or lying about once it
# ends.
#
# Each runs as the init of private PID, mount and network namespaces, with
# the driver's device, the service database and the temporary folder in a
# folder of the test's own.
#
# Usage: DemoTest.py headless|ctrl-c|window RUN_SH BUILD_DIR SCREENSHOT
import os
import pty
import re
import subprocess
import sys
import tempfile

from WholeProgramTest import (TIMEOUT, CXServer, end_program, eventually, export_panes,
                              nothing_left, pick_first_port, program_environment, run_isolated)

# "12:00:00.002000      75 wirelet-demo-ap > 41 54 0D     AT.": time, pid,
# command, direction, 16 hex columns of 3, then the text.
CONSOLE_DATA = re.compile(r"^\d\d:\d\d:\d\d\.\d{6} [ \d]{7} .{15} ([<>]) (.{1,48})", re.M)


def transcript(path):
    """What the sample application wrote (">") and read ("<"), one chunk a
    call."""
    chunks = {">": [], "<": []}
    with open(path) as f:
        for direction, data in map(str.split, f):
            chunks[direction].append(bytes.fromhex(data))
    return chunks


def is_moved_run(chunks, data):
    """True when data is what some calls in a row moved, whole: a monitor
    sees the calls from its attach on, each one whole, none left out."""
    for first in range(len(chunks)):
        joined = b""
        for chunk in chunks[first:]:
            joined += chunk
            if joined == data:
                return True
            if not data.startswith(joined):
                break
    return False


class CDemoTest:
    def __init__(self, run_sh, build_dir, screenshot, x=None):
        self.run_sh, self.screenshot, self.x = run_sh, screenshot, x
        self.dir = tempfile.mkdtemp()
        self.tmp = os.path.join(self.dir, "tmp")
        os.mkdir(self.tmp)
        self.transcript = os.path.join(self.dir, "transcript")
        self.env = program_environment(self.dir, x, TMPDIR=self.tmp, WIRELET_BUILD_DIR=build_dir,
                                       WIRELET_DEMO_TRANSCRIPT=self.transcript,
                                       WIRELET_SERIALCOMM="/dev/null")

    def check_moved(self, direction, data):
        assert is_moved_run(transcript(self.transcript)[direction], data), \
            "%s: %r is not what the sample application moved" % (direction, data)

    def check_nothing_left(self):
        eventually(nothing_left, "every process to end")
        assert os.listdir(self.tmp) == [], os.listdir(self.tmp)
        assert not os.path.exists(self.env["VANTRY_DEVICE"])


class CHeadlessRunTest(CDemoTest):
    def run(self):
        status, output = self.run_script()
        assert status == 0, output
        assert re.search("^run.sh: no display", output, re.M), output
        lines = CONSOLE_DATA.findall(output)
        for direction, what in ((">", b"AT"), ("<", b"OK")):
            data = b"".join(bytes.fromhex(pairs) for d, pairs in lines if d == direction)
            assert what in data, output
            self.check_moved(direction, data)
        self.check_nothing_left()

    def run_script(self):
        run = subprocess.run([self.run_sh], env=self.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                             timeout=TIMEOUT + 10)
        return run.returncode, run.stdout


class CHeadlessCtrlCTest(CHeadlessRunTest):
    """Ctrl+C in the terminal ends the run early and as cleanly: the console
    tool reads out what the driver still holds, and the driver lives on
    until it has."""

    def run_script(self):
        pid, terminal = pty.fork()
        if pid == 0:
            os.execve(self.run_sh, [self.run_sh], self.env)
        output = [b""]

        def read():
            """False once every holder of the terminal has closed it."""
            try:
                output[0] += os.read(terminal, 65536)
                return True
            except OSError:
                return False

        eventually(lambda: not read() or b"..OK.." in output[0], "an answer on the console")
        os.write(terminal, b"\x03")
        eventually(lambda: not read(), "the end of run.sh")
        return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]), output[0].decode()


class CDemoWindowTest(CDemoTest):
    def __init__(self, run_sh, build_dir, screenshot):
        super().__init__(run_sh, build_dir, screenshot, CXServer())

    def run(self):
        program = subprocess.Popen([self.run_sh], env=self.env, stdin=subprocess.DEVNULL)
        main = self.x.main_window()
        pick_first_port(self.x, main)
        export_panes(self.x, main, os.path.join(self.dir, "pane"), self.shows("<", b"OK"),
                     self.shows(">", b"AT"), self.screenshot)
        end_program(self.x, program, main)
        self.check_nothing_left()

    def shows(self, direction, what):
        """A pane export is done once it shows an exchange; each must hold
        exactly what the application moved."""
        def done(data, text):
            if data:
                self.check_moved(direction, data)
            return what in data
        return done



if __name__ == "__main__":
    TESTS = {"headless": CHeadlessRunTest, "ctrl-c": CHeadlessCtrlCTest,
             "window": CDemoWindowTest}
    sys.exit(run_isolated(lambda: TESTS[sys.argv[1]](*sys.argv[2:4],
                                                     os.path.abspath(sys.argv[4]))))
