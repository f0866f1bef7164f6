// The live source against real applications on real ptys. Each test knows
// what its application did and checks the records byte for byte and in
// order; the application waits until it is traced where the test needs a
// fixed starting point (a late opener's first moments are a known gap).
#include "TraceHarness.h"

#include "VantryProtocol.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <optional>
#include <string>

using namespace Expect;

namespace {

// The settings every pty starts with (the kernel's standard termios: B38400
// CS8), recovered when a late opener is first traced; then what followed.
std::vector<CRecord> Attached(pid_t nPid, const std::vector<CRecord>& after = {}) {
    std::vector<CRecord> records = {Opened(nPid), TracedLate(nPid), Baud(nPid, 38400),
                                    Line(nPid, 0, 0, 8)};
    records.insert(records.end(), after.begin(), after.end());
    return records;
}

// The first word of /proc/PID/syscall: the call it is blocked in.
std::string BlockedIn(pid_t nPid) {
    std::ifstream file("/proc/" + std::to_string(nPid) + "/syscall");
    std::string strNumber;
    file >> strNumber;
    return strNumber;
}

class TraceTest : public testing::Test {
protected:
    std::string Port() const { return m_pty.Slave(); }
    // The test application on the port, traced by a probe from its steps on.
    CChild& Traced(const std::string& strSteps) {
        m_probe.emplace(std::vector<std::string>{Port()});
        m_app.emplace(AppOn(Port(), "wait-traced say traced hear " + strSteps));
        m_probe->Release(*m_app);
        return *m_app;
    }
    std::vector<CRecord> UntilClosed() { return m_probe->WaitRecords(EndsWithClose); }

    CPty m_pty;
    std::optional<CProbe> m_probe;
    std::optional<CChild> m_app;
};

TEST_F(TraceTest, LateOpenerDataAndEverySettingsChange) {
    CChild& app = Traced("set 9600 8N1 write hello\\x00\\xff say wrote read 5 set 115200 7E1 "
                         "set 19200 8O2 set 250000 8N1 writev ab cd set 57600 8M1 set 9600 5S2 "
                         "close");
    ASSERT_FALSE(app.WaitLine("wrote").empty()) << app.Err();
    m_pty.Send("world");
    EXPECT_EQ(app.WaitLine("read:"), "read:world");
    ASSERT_EQ(app.Wait(), 0) << app.Err();
    const pid_t p = app.Pid();
    EXPECT_EQ(UntilClosed(),
              Attached(p, {Baud(p, 9600), Line(p, 0, 0, 8),
                           Written(p, std::string("hello\0\xff", 7)), Read(p, "world"),
                           Baud(p, 115200), Line(p, 0, 2, 7), Baud(p, 19200), Line(p, 2, 1, 8),
                           Baud(p, 250000), Line(p, 0, 0, 8), Written(p, "abcd"), Baud(p, 57600),
                           Line(p, 0, 3, 8), Baud(p, 9600), Line(p, 2, 4, 5), Closed(p)}));
    EXPECT_TRUE(m_pty.WaitReceived(11));
    EXPECT_EQ(m_pty.Received(), std::string("hello\0\xff", 7) + "abcd");
}

TEST_F(TraceTest, ThreadsForkDupAndExecKeepTheirFds) {
    // Four threads write 50 tokens each; then a forked child and its parent
    // write; a spawned child inherits the port and does nothing with it;
    // then the port moves to fd 7 (the fd the port gets depends on what the
    // test runner leaves open) and survives an exec and an exec from a
    // second thread, and a last exec with close-on-exec set releases it.
    CChild& app = Traced("set 115200 8N1 threads 4 50 fork P C spawn dup2 7 write before exec "
                         "usefd 7 write after thread-exec usefd 7 write again say exec1 hear "
                         "cloexec exec say exec2 hear");
    const pid_t p = app.Pid();
    const std::string strChild = app.WaitLine("child:");
    const pid_t nChild = strChild.empty() ? -1 : std::stoi(strChild.substr(6));
    ASSERT_FALSE(app.WaitLine("exec1").empty()) << app.Err();
    app.Send("\n");
    ASSERT_FALSE(app.WaitLine("exec2").empty()) << app.Err();
    const auto records = UntilClosed();
    EXPECT_TRUE(Eventually([&] { return TracerOf(p) == 0; })) << "not detached after its last fd";
    app.Send("\n");
    ASSERT_EQ(app.Wait(), 0) << app.Err();

    ASSERT_GE(records.size(), 6u + 200 + 5) << testing::PrintToString(records);
    EXPECT_EQ(std::vector<CRecord>(records.begin(), records.begin() + 6),
              Attached(p, {Baud(p, 115200), Line(p, 0, 0, 8)}));
    std::map<std::string, int> next;
    std::size_t i = 6;
    for (; i < 206; ++i) {
        const auto& record = records[i];
        ASSERT_EQ(record.nType, Vantry::CAPTURE_DATA_WRITTEN) << record;
        EXPECT_EQ(record.dwPid, std::uint32_t(p));
        // Each thread's tokens in the order it wrote them.
        const auto nDot = record.strData.find('.');
        const std::string strThread = record.strData.substr(0, nDot);
        EXPECT_EQ(record.strData, strThread + "." + std::to_string(next[strThread]++) + ";");
    }
    EXPECT_EQ(next.size(), 4u);
    EXPECT_EQ(std::vector<CRecord>(records.begin() + 206, records.end()),
              (std::vector<CRecord>{Written(nChild, "C"), Written(p, "P"), Written(p, "before"),
                                    Written(p, "after"), Written(p, "again"), Closed(p)}));
}

TEST_F(TraceTest, StopsContinuesAndSignalsBehaveAsUntraced) {
    CChild& app = Traced("set 9600 8N1 trap-usr1 say ready hear write one say wrote hear say "
                         "reading read 5 write woke hear");
    const pid_t p = app.Pid();
    ASSERT_FALSE(app.WaitLine("ready").empty());
    kill(p, SIGSTOP);
    int nStatus = 0;
    ASSERT_EQ(waitpid(p, &nStatus, WUNTRACED), p);
    ASSERT_TRUE(WIFSTOPPED(nStatus));
    EXPECT_EQ(WSTOPSIG(nStatus), SIGSTOP);
    app.Send("go\n");
    // Stopped means stopped: nothing is written until SIGCONT.
    EXPECT_TRUE(app.WaitLine("wrote", false, 100ms).empty());
    kill(p, SIGCONT);
    ASSERT_EQ(waitpid(p, &nStatus, WCONTINUED), p);
    EXPECT_TRUE(WIFCONTINUED(nStatus));
    ASSERT_FALSE(app.WaitLine("wrote").empty());
    app.Send("go\n");
    ASSERT_FALSE(app.WaitLine("reading").empty());
    ASSERT_TRUE(Eventually([&] { return BlockedIn(p) == "0"; })) << "not blocked in read";
    // A handled signal interrupts the read, as it would untraced.
    kill(p, SIGUSR1);
    EXPECT_EQ(app.WaitLine("read:"), "read:EINTR");
    ASSERT_TRUE(m_pty.WaitReceived(7));
    // An unhandled one ends it, and its exit releases the port.
    kill(p, SIGTERM);
    EXPECT_EQ(app.Wait(), -1);
    EXPECT_EQ(UntilClosed(), Attached(p, {Baud(p, 9600), Line(p, 0, 0, 8), Written(p, "one"),
                                          Written(p, "woke"), Closed(p)}));
}

TEST_F(TraceTest, DetachDuringBlockingReadLeavesTheReadIntact) {
    CChild& app = Traced("set 9600 8N1 say ready read 5 write after say done");
    const pid_t p = app.Pid();
    ASSERT_FALSE(app.WaitLine("ready").empty());
    ASSERT_TRUE(Eventually([&] { return BlockedIn(p) == "0"; })) << "not blocked in read";
    m_probe->Unwatch();
    EXPECT_TRUE(Eventually([&] { return TracerOf(p) == 0; }));
    m_pty.Send("hello");
    EXPECT_EQ(app.WaitLine("read:"), "read:hello");
    ASSERT_EQ(app.Wait(), 0);
    EXPECT_TRUE(m_pty.WaitReceived(5));
    EXPECT_EQ(m_pty.Received(), "after");
    EXPECT_EQ(m_probe->Records(), Attached(p, {Baud(p, 9600), Line(p, 0, 0, 8)}));
    EXPECT_EQ(m_probe->Stop(), 0);
}

TEST_F(TraceTest, KilledTracerLeavesTheApplicationRunning) {
    CChild& app = Traced("set 9600 8N1 say ready hear write still-here read 3 close");
    const pid_t p = app.Pid();
    ASSERT_FALSE(app.WaitLine("ready").empty());
    m_probe->Process().Kill(SIGKILL);
    EXPECT_EQ(m_probe->Process().Wait(), -1);
    EXPECT_TRUE(Eventually([&] { return TracerOf(p) == 0; }));
    app.Send("go\n");
    ASSERT_TRUE(m_pty.WaitReceived(10));
    m_pty.Send("abc");
    EXPECT_EQ(app.WaitLine("read:"), "read:abc");
    EXPECT_EQ(app.Wait(), 0);
    EXPECT_EQ(m_pty.Received(), "still-here");
}

TEST_F(TraceTest, PyserialApplication) {
    CChild app({"/usr/bin/python3", PYTHON_APP_PATH, Port()});
    ASSERT_FALSE(app.WaitLine("opened").empty()) << app.Err();
    CProbe probe({Port()});
    app.Send("go\n");
    ASSERT_FALSE(app.WaitLine("wrote").empty()) << app.Err();
    m_pty.Send("world");
    EXPECT_EQ(app.WaitLine("read:"), "read:world");
    ASSERT_EQ(app.Wait(), 0) << app.Err();
    const pid_t p = app.Pid();
    // pyserial sets a custom rate twice: BOTHER through the old request
    // first (the port keeps its rate), then the rate through termios2.
    EXPECT_EQ(
        probe.WaitRecords(EndsWithClose),
        (std::vector<CRecord>{Baud(p, 115200), Line(p, 0, 0, 8), Baud(p, 9600), Line(p, 0, 2, 7),
                              Written(p, "py-hello"), Read(p, "world"), Baud(p, 9600),
                              Line(p, 0, 2, 7), Baud(p, 250000), Line(p, 0, 0, 8), Closed(p)}));
    EXPECT_TRUE(m_pty.WaitReceived(8));
    EXPECT_EQ(m_pty.Received(), "py-hello");
}

TEST_F(TraceTest, PicocomDrivenThroughItsTerminal) {
    CPty terminal;
    CChild picocom(
        {"/usr/bin/picocom", "-b", "19200", "-d", "8", "-y", "o", "-p", "2", "--noreset", Port()},
        terminal.Slave());
    auto bShows = [&terminal](const std::string& strText) {
        return Eventually([&] { return terminal.Received().find(strText) != std::string::npos; });
    };
    ASSERT_TRUE(bShows("Terminal ready")) << terminal.Received();
    CProbe probe({Port()});
    terminal.Send("AT\r");
    ASSERT_TRUE(m_pty.WaitReceived(3));
    m_pty.Send("OK\r\n");
    ASSERT_TRUE(bShows("OK"));
    terminal.Send("\x01\x18"); // C-a C-x: leave
    ASSERT_EQ(picocom.Wait(), 0);
    const pid_t p = picocom.Pid();
    // A pty drops the parity bit picocom asks for; at exit picocom puts
    // back the settings it read.
    EXPECT_EQ(
        probe.WaitRecords(EndsWithClose),
        (std::vector<CRecord>{Baud(p, 19200), Line(p, 2, 0, 8), Written(p, "AT\r"),
                              Read(p, "OK\r\n"), Baud(p, 19200), Line(p, 2, 0, 8), Closed(p)}));
    EXPECT_EQ(m_pty.Received(), "AT\r");
}

TEST_F(TraceTest, ProcessTracedByADebuggerIsReportedAndTracedOnceTheDebuggerLetsGo) {
    CChild app(AppOn(Port(), "say opened hear write free say wrote hear write later close"));
    const pid_t p = app.Pid();
    ASSERT_FALSE(app.WaitLine("opened").empty());
    CChild debugger({"/usr/bin/strace", "-qq", "-o", "/dev/null", "-p", std::to_string(p)});
    ASSERT_TRUE(Eventually([&] { return TracerOf(p) == debugger.Pid(); }));
    CProbe probe({Port()});
    app.Send("go\n");
    ASSERT_FALSE(app.WaitLine("wrote").empty());
    EXPECT_TRUE(m_pty.WaitReceived(4));
    // strace detaches on SIGINT; the process is traced again at once.
    debugger.Kill(SIGINT);
    ASSERT_TRUE(Eventually([&] {
        const pid_t nTracer = TracerOf(p);
        return nTracer > 0 && nTracer != debugger.Pid();
    }));
    app.Send("go\n");
    ASSERT_EQ(app.Wait(), 0);
    // Its data meanwhile is not seen, and the notice says why.
    EXPECT_EQ(
        probe.WaitRecords(EndsWithClose),
        (std::vector<CRecord>{Notice(p, Vantry::NOTICE_PROCESS_NOT_TRACED, std::uint32_t(p)),
                              Baud(p, 38400), Line(p, 0, 0, 8), Written(p, "later"), Closed(p)}));
}

// A stop that arrives while the application sleeps in its read of the port:
// the read must survive the stop and the continue, as it does untraced.
TEST_F(TraceTest, CtrlZDuringABlockingPortReadStopsAndResumesIt) {
    CChild& app = Traced("set 9600 8N1 say reading read 5 write woke close");
    const pid_t p = app.Pid();
    ASSERT_FALSE(app.WaitLine("reading").empty());
    ASSERT_TRUE(Eventually([&] { return BlockedIn(p) == "0"; })) << "not blocked in read";
    int nStatus = 0;
    kill(p, SIGTSTP);
    ASSERT_EQ(waitpid(p, &nStatus, WUNTRACED), p);
    EXPECT_TRUE(WIFSTOPPED(nStatus) && WSTOPSIG(nStatus) == SIGTSTP);
    kill(p, SIGCONT);
    ASSERT_EQ(waitpid(p, &nStatus, WCONTINUED), p);
    m_pty.Send("hello");
    EXPECT_EQ(app.WaitLine("read:"), "read:hello");
    EXPECT_EQ(app.Wait(), 0) << app.Err();
    EXPECT_EQ(UntilClosed(), Attached(p, {Baud(p, 9600), Line(p, 0, 0, 8), Read(p, "hello"),
                                          Written(p, "woke"), Closed(p)}));
}

// readv fills the application's buffers from the port: a read. A file
// that dup2 puts over a port fd takes that fd away from the port.
TEST_F(TraceTest, ReadvIsAReadAndAFdThatDup2ReplacedIsNoLongerThePort) {
    CChild& app =
        Traced("set 9600 8N1 say ready hear readv 2 shadow 9 write hidden usefd 9 write two close");
    ASSERT_FALSE(app.WaitLine("ready").empty()) << app.Err();
    m_pty.Send("abcd");
    app.Send("go\n");
    EXPECT_EQ(app.WaitLine("read:"), "read:abcd");
    ASSERT_EQ(app.Wait(), 0) << app.Err();
    const pid_t p = app.Pid();
    EXPECT_EQ(UntilClosed(), Attached(p, {Baud(p, 9600), Line(p, 0, 0, 8), Read(p, "abcd"),
                                          Written(p, "two"), Closed(p)}));
    EXPECT_TRUE(m_pty.WaitReceived(3));
    EXPECT_EQ(m_pty.Received(), "two");
}

// Data that moves without a call we decode is named, not lost silently.
TEST_F(TraceTest, SendfileAndSpliceAreNamedInNotices) {
    CChild& app = Traced("sendfile file-data splice pipe-data sendfile again write plain close");
    ASSERT_EQ(app.Wait(), 0) << app.Err();
    const pid_t p = app.Pid();
    EXPECT_EQ(UntilClosed(),
              Attached(p, {Notice(p, Vantry::NOTICE_CALL_NOT_DECODED, Vantry::CALL_SENDFILE),
                           Notice(p, Vantry::NOTICE_CALL_NOT_DECODED, Vantry::CALL_SPLICE),
                           Written(p, "plain"), Closed(p)}));
    EXPECT_TRUE(m_pty.WaitReceived(9 + 9 + 5 + 5));
}

} // namespace
