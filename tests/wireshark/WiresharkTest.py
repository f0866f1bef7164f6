# Captures of the demo port as Wireshark sees them, through Wireshark's own
# tools and our dissector: a converted record file, a live capture from the
# extcap's interface, and a capture of a "remote" port through sshdump and an
# sshd on the loopback. Whatever way the bytes came, each direction must be
# exactly what the sample application moved, and the port's settings and
# processes must be there.
#
# Each mode runs as the init of private PID, mount and network namespaces
# with a driver of its own, and the demo runs the checks as its command, so
# that the demo port is known to them and the demo ends with them.
#
# Usage: WiresharkTest.py file|live|sshdump BUILD_BIN EXTCAP DISSECTOR
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "whole"))
from DemoTest import is_moved_run, transcript  # noqa: E402
from WholeProgramTest import SKIPPED, eventually  # noqa: E402

CAPTURE_SECONDS = 7
EXTCAP_DIR = "/usr/lib/x86_64-linux-gnu/wireshark/extcap"
FIELDS = ["frame.interface_name", "frame.comment", "wirelet.type", "wirelet.pid",
          "wirelet.command", "wirelet.direction", "wirelet.data", "wirelet.baud", "wirelet.data_bits",
          "wirelet.parity", "wirelet.stop_bits"]


class CWiresharkTest:
    def __init__(self, mode, build_bin, extcap, dissector):
        self.mode, self.bin, self.extcap, self.dissector = mode, build_bin, extcap, dissector
        self.dir = os.environ.get("WIRESHARK_TEST_DIR") or tempfile.mkdtemp()
        self.port = os.environ.get("WIRELET_DEMO_PORT")
        self.transcript = os.path.join(self.dir, "transcript")

    def tool(self, name):
        return os.path.join(self.bin, name)

    def outside(self):
        """Runs this script again as the demo's command, with a driver."""
        env = dict(os.environ, VANTRY_DEVICE=os.path.join(self.dir, "Vantry"),
                   WIRELET_DEMO_TRANSCRIPT=self.transcript, WIRESHARK_TEST_DIR=self.dir,
                   TMPDIR=self.dir, HOME=self.dir)
        if self.mode == "live":
            # Wireshark run as root looks for extcaps in its own folder
            # alone: in this mount namespace, that folder holds ours.
            subprocess.run(["mount", "-t", "tmpfs", "tmpfs", EXTCAP_DIR], check=True)
            os.symlink(self.extcap, os.path.join(EXTCAP_DIR, "wirelet-extcap"))
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        demo = subprocess.run([self.tool("wirelet-demo"), "--driver", self.tool("vantry.sys"),
                               "--", sys.executable, os.path.abspath(__file__), *sys.argv[1:]],
                              env=env, timeout=120)
        assert demo.returncode == 0, "the checks failed"

    def inside(self):
        getattr(self, self.mode)()

    def file(self):
        """A record file captured with the console tool, converted, and read
        by tshark."""
        record_file = os.path.join(self.dir, "demo.rec")
        capture = subprocess.Popen([self.tool("wirelet-cli"), "capture", self.port,
                                    "-o", record_file])
        time.sleep(CAPTURE_SECONDS)
        capture.send_signal(signal.SIGINT)
        assert capture.wait(30) == 0
        pcapng = os.path.join(self.dir, "demo.pcapng")
        subprocess.run([self.tool("wirelet-cli"), "convert", record_file, "-o", pcapng,
                        "--port", self.port], check=True)
        self.check(pcapng)

    def live(self):
        """Wireshark's list offers the demo port through the extcap, and a
        capture from it is the demo's traffic."""
        listed = subprocess.run(["tshark", "-D"], capture_output=True, text=True, check=True)
        line = next((l for l in listed.stdout.splitlines() if self.port in l), None)
        assert line, listed.stdout
        interface = re.match(r"\d+\. (\S+)", line).group(1)
        pcapng = os.path.join(self.dir, "live.pcapng")
        subprocess.run(["tshark", "-Q", "-i", interface, "-a", "duration:%d" % CAPTURE_SECONDS,
                        "-w", pcapng], check=True, timeout=60)
        self.check(pcapng)

    def sshdump(self):
        """Wireshark's sshdump runs the console tool on the "remote" machine
        and streams back its pcapng."""
        key = self.ssh_server()
        pcapng = os.path.join(self.dir, "remote.pcapng")
        command = "VANTRY_DEVICE=%s %s capture %s --format pcapng -o -" % (
            os.environ["VANTRY_DEVICE"], self.tool("wirelet-cli"), self.port)
        dump = subprocess.Popen([os.path.join(EXTCAP_DIR, "sshdump"),
                                 "--extcap-interface", "sshdump", "--capture", "--fifo", pcapng,
                                 "--remote-host", "127.0.0.1", "--remote-port", "2222",
                                 "--remote-username", "root", "--sshkey", key,
                                 "--remote-capture-command", command])
        time.sleep(CAPTURE_SECONDS)
        dump.send_signal(signal.SIGTERM)
        dump.wait(30)
        self.check(pcapng)

    def ssh_server(self):
        """An sshd of the test's own on the loopback of its network namespace;
        returns the key that logs in as root."""
        keys = os.path.join(self.dir, "ssh")
        os.makedirs(keys)
        for name in ("host", "client"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f",
                            os.path.join(keys, name)], check=True)
        os.rename(os.path.join(keys, "client.pub"), os.path.join(keys, "authorized_keys"))
        config = os.path.join(keys, "sshd_config")
        with open(config, "w") as f:
            f.write("ListenAddress 127.0.0.1:2222\nHostKey %s/host\n"
                    "AuthorizedKeysFile %s/authorized_keys\nPermitRootLogin prohibit-password\n"
                    "StrictModes no\nUsePAM no\nPidFile %s/sshd.pid\n" % (keys, keys, keys))
        os.makedirs("/run/sshd", exist_ok=True)
        subprocess.run(["/usr/sbin/sshd", "-f", config], check=True)
        eventually(lambda: os.path.exists(os.path.join(keys, "sshd.pid")), "sshd")
        return os.path.join(keys, "client")

    def check(self, pcapng):
        """Through the dissector's fields: each direction is a run of what the
        sample application moved, its settings are the demo's, and each
        packet names the port and the process."""
        shown = subprocess.run(["tshark", "-r", pcapng, "-X", "lua_script:" + self.dissector,
                                "-T", "fields", "-E", "occurrence=f"] +
                               [a for field in FIELDS for a in ("-e", field)],
                               capture_output=True, text=True, check=True)
        rows = [dict(zip(FIELDS, line.split("\t"))) for line in shown.stdout.splitlines()]
        moved = transcript(self.transcript)
        for shown_as, direction, what in (("written", ">", b"AT"), ("read", "<", b"OK")):
            data = b"".join(bytes.fromhex(row["wirelet.data"]) for row in rows
                            if row["wirelet.direction"] == shown_as)
            assert what in data and is_moved_run(moved[direction], data), (direction, data)
        settings = {(row["wirelet.baud"]) for row in rows if row["wirelet.type"] == "5"}
        lines = {(row["wirelet.data_bits"], row["wirelet.parity"], row["wirelet.stop_bits"])
                 for row in rows if row["wirelet.type"] == "6"}
        # Each open says the pty's own 38400 8N1 before the application
        # sets the demo's line.
        assert settings & {"115200", "9600"} and settings <= {"115200", "9600", "38400"}, settings
        assert lines and lines <= {("8", "0", "0"), ("7", "2", "0")}, lines
        for row in rows:
            assert row["frame.interface_name"] == self.port, row
        data_rows = [row for row in rows if row["wirelet.type"] in "12"]
        assert all(row["wirelet.command"] == "wirelet-demo-ap" and
                   row["frame.comment"] == "pid %s wirelet-demo-ap" % row["wirelet.pid"]
                   for row in data_rows), data_rows


def main():
    test = CWiresharkTest(*sys.argv[1:5])
    if test.port:
        test.inside()
        return 0
    if os.getpid() != 1:
        if os.geteuid() != 0:
            print("the Wireshark tests need root for live capture")
            return SKIPPED
        return subprocess.run(["unshare", "--pid", "--fork", "--mount-proc", "--net",
                               "--kill-child", sys.executable, *sys.argv]).returncode
    test.outside()
    return 0


if __name__ == "__main__":
    sys.exit(main())
