// Live capture of real applications, checked byte for byte and in order;
// the application waits until it is traced where the test needs a fixed
// starting point (a late opener's first moments are a known gap).
#include "CDriverProcess.h"
#include "CaptureSource.h"
#include "PrivateNamespace.h"
#include "TraceHarness.h"

#include "VantryProtocol.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <tuple>

using namespace Expect;

namespace {

// The process whose thread traces nPid (TracerPid names the thread).
pid_t TracingProcessOf(pid_t nPid) {
    const pid_t nTracer = TracerOf(nPid);
    return nTracer > 0 ? ProcScanner::ThreadGroupOf(nTracer) : nTracer;
}

class TraceTest : public testing::Test, public CCaptureSource {
protected:
    void SetUp() override {
        if (IsBpf() && !BpfRefusal().empty())
            GTEST_SKIP() << "no eBPF here: " << BpfRefusal();
        ASSERT_TRUE(m_driver.Start(Args())) << m_driver.Stderr();
    }
    // The pty's settings, seen as the opener opens (eBPF) or recovered when
    // a late opener is first traced; then what followed.
    std::vector<CRecord> Attached(pid_t nPid, const std::vector<CRecord>& after = {}) const {
        std::vector<CRecord> records = Standard(nPid, after);
        records.insert(records.begin(), Opened(nPid));
        if (!IsBpf())
            records.insert(records.begin() + 1, TracedLate(nPid));
        return records;
    }
    std::string Port() const { return m_pty.Slave(); }
    void Attach() {
        m_client.emplace(m_driver.DevicePath());
        m_dwHandle = m_client->AttachOk(Port());
    }
    // The test application on the port, opened after the attach and let go
    // once the driver has published its attach records, so that its steps
    // are traced for sure.
    CChild& Traced(const std::string& strSteps) {
        Attach();
        m_app.emplace(Port(), strSteps);
        const std::size_t nFirst = Attached(0).size();
        FetchUntil(*m_client, m_dwHandle, m_records,
                   [&](const auto& r) { return r.size() >= nFirst; });
        m_app->Send("go\n");
        return *m_app;
    }
    const std::vector<CRecord>& UntilClosed() {
        FetchUntil(*m_client, m_dwHandle, m_records, [](const auto& got) {
            return !got.empty() && got.back().nType == Vantry::CAPTURE_PORT_CLOSED;
        });
        return m_records;
    }

    CDriverProcess m_driver;
    CPty m_pty;
    std::optional<CRawClient> m_client;
    std::uint32_t m_dwHandle = 0;
    std::vector<CRecord> m_records;
    std::optional<CHeldApp> m_app;
};

// After the data and every kind of settings change: readv fills the
// application's buffers from the port (a read); a file that dup2 puts over
// a port fd takes that fd away from the port; a copy of its own fd taken
// with pidfd_getfd opens nothing; data that moves without a call we decode
// is named, once per call, not lost silently.
TEST_P(TraceTest, LateOpenerDataSettingsAndCallsAsTheyCame) {
    CChild& app = Traced("set 9600 8N1 write hello\\x00\\xff say wrote read 5 set 115200 7E1 "
                         "set 19200 8O2 set 250000 8N1 writev ab cd set 57600 8M1 set 9600 5S2 "
                         "say ready hear readv 2 dup2 9 write hidden usefd 9 write two take-own "
                         "write three sendfile file splice pipe sendfile again aio async write "
                         "plain close usefd 9 close");
    ASSERT_FALSE(app.WaitLine("wrote").empty()) << app.Err();
    m_pty.Send("world");
    EXPECT_EQ(app.WaitLine("read:"), "read:world");
    ASSERT_FALSE(app.WaitLine("ready").empty()) << app.Err();
    m_pty.Send("abcd");
    app.Send("go\n");
    EXPECT_FALSE(app.WaitLine("read:abcd").empty());
    ASSERT_EQ(app.Wait(), 0) << app.Err();
    const pid_t p = app.Pid();
    const std::string strHello("hello\0\xff", 7);
    const auto undecoded = [p](std::uint32_t dwCall) {
        return Notice(p, Vantry::NOTICE_CALL_NOT_DECODED, dwCall);
    };
    // A custom rate through the old request keeps the rate the port had.
    auto expected = Attached(p, {Baud(p, 9600), Line(p, 0, 0, 8), Written(p, strHello),
                                 Read(p, "world"), Baud(p, 115200), Line(p, 0, 2, 7),
                                 Baud(p, 19200), Line(p, 2, 1, 8), Baud(p, 19200), Line(p, 0, 0, 8),
                                 Baud(p, 250000), Line(p, 0, 0, 8), Written(p, "abcd")});
    expected.insert(expected.end(),
                    {Baud(p, 57600), Line(p, 0, 3, 8), Baud(p, 9600), Line(p, 2, 4, 5),
                     Read(p, "abcd"), Written(p, "two"), Written(p, "three"),
                     undecoded(Vantry::CALL_SENDFILE), undecoded(Vantry::CALL_SPLICE),
                     undecoded(Vantry::CALL_IO_SUBMIT), Written(p, "plain"), Closed(p)});
    EXPECT_EQ(UntilClosed(), expected);
    const std::string strSent = strHello + "abcdtwothreefilepipeagainasyncplain";
    EXPECT_TRUE(m_pty.WaitReceived(strSent.size()));
    EXPECT_EQ(m_pty.Received(), strSent);
}

TEST_P(TraceTest, ThreadsForkDupAndExecKeepTheirFds) {
    // Four threads write 50 tokens each; then a forked child and its parent
    // write; a spawned child inherits the port and does nothing with it;
    // then the port moves to fd 7 (the fd it had depends on what the test
    // runner leaves open) and survives an exec and an exec from a second
    // thread, and a last exec with close-on-exec set releases it.
    CChild& app = Traced("set 115200 8N1 threads 4 50 fork P C spawn dup2 7 usefd 7 write before "
                         "exec usefd 7 write after thread-exec usefd 7 write again say exec1 hear "
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

    const auto first = Attached(p, {Baud(p, 115200), Line(p, 0, 0, 8)});
    const std::size_t n = first.size();
    ASSERT_GE(records.size(), n + 200 + 5) << testing::PrintToString(records);
    EXPECT_EQ(std::vector<CRecord>(records.begin(), records.begin() + n), first);
    std::map<std::string, int> next;
    for (std::size_t i = n; i < n + 200; ++i) {
        // Each thread's tokens in the order it wrote them.
        const std::string strThread = records[i].strData.substr(0, records[i].strData.find('.'));
        EXPECT_EQ(records[i],
                  Written(p, strThread + "." + std::to_string(next[strThread]++) + ";"));
    }
    EXPECT_EQ(next.size(), 4u);
    EXPECT_EQ(std::vector<CRecord>(records.begin() + n + 200, records.end()),
              (std::vector<CRecord>{Written(nChild, "C"), Written(p, "P"), Written(p, "before"),
                                    Written(p, "after"), Written(p, "again"), Closed(p)}));
}

// A stop stops the read, a continue lets it go on, a handled signal
// interrupts it, an unhandled one ends the application.
TEST_P(TraceTest, SignalsDuringABlockingPortReadBehaveAsUntraced) {
    CChild& app =
        Traced("set 9600 8N1 trap-usr1 say reading read 5 write woke read 5 write after hear");
    const pid_t p = app.Pid();
    // Blocked in read: the first word of /proc/PID/syscall is its number, 0.
    const auto bInRead = [&] {
        return Eventually(
            [&] { return ReadText("/proc/" + std::to_string(p) + "/syscall")[0] == '0'; });
    };
    ASSERT_FALSE(app.WaitLine("reading").empty());
    ASSERT_TRUE(bInRead()) << "not blocked in read";
    int nStatus = 0;
    kill(p, SIGTSTP);
    ASSERT_EQ(waitpid(p, &nStatus, WUNTRACED), p);
    EXPECT_TRUE(WIFSTOPPED(nStatus) && WSTOPSIG(nStatus) == SIGTSTP);
    m_pty.Send("hello");
    EXPECT_TRUE(app.WaitLine("read:", false, 100ms).empty()) << "stopped means stopped";
    kill(p, SIGCONT);
    ASSERT_EQ(waitpid(p, &nStatus, WCONTINUED), p);
    EXPECT_EQ(app.WaitLine("read:"), "read:hello");
    ASSERT_TRUE(bInRead()) << "not blocked in its second read";
    kill(p, SIGUSR1);
    EXPECT_FALSE(app.WaitLine("read:EINTR").empty());
    ASSERT_TRUE(m_pty.WaitReceived(9));
    kill(p, SIGTERM);
    EXPECT_EQ(app.Wait(), -1);
    EXPECT_EQ(UntilClosed(), Attached(p, {Baud(p, 9600), Line(p, 0, 0, 8), Read(p, "hello"),
                                          Written(p, "woke"), Written(p, "after"), Closed(p)}));
}

TEST_P(TraceTest, ProcessTracedByADebuggerIsReportedAndTracedOnceTheDebuggerLetsGo) {
    CHeldApp app(Port(), "write free say wrote hear write later close");
    const pid_t p = app.Pid();
    CChild debugger({"/usr/bin/strace", "-qq", "-o", "/dev/null", "-p", std::to_string(p)});
    ASSERT_TRUE(Eventually([&] { return TracerOf(p) == debugger.Pid(); }));
    Attach();
    // A second attachment is told of the process what the first is.
    const auto told = IsBpf()
                          ? Standard(p)
                          : std::vector<CRecord>{Notice(p, Vantry::NOTICE_PROCESS_NOT_TRACED, p)};
    CRawClient second(m_driver.DevicePath());
    EXPECT_EQ(RecordsUntil(second, second.AttachOk(Port()), told.back()), told);
    app.Send("go\n");
    ASSERT_FALSE(app.WaitLine("wrote").empty());
    EXPECT_TRUE(m_pty.WaitReceived(4));
    // strace detaches on SIGINT; ptrace traces the process again at once.
    debugger.Kill(SIGINT);
    ASSERT_TRUE(IsBpf() || Eventually([&] {
                    const pid_t nTracer = TracerOf(p);
                    return nTracer > 0 && nTracer != debugger.Pid();
                }));
    app.Send("go\n");
    ASSERT_EQ(app.Wait(), 0);
    // eBPF, which nothing stops, sees everything, debugger or not; ptrace
    // misses what it wrote meanwhile, and the notice says why.
    auto expected = Standard(p, {Written(p, "free"), Written(p, "later"), Closed(p)});
    if (!IsBpf()) {
        expected.erase(expected.begin() + 2);
        expected.insert(expected.begin(), told.front());
    }
    EXPECT_EQ(UntilClosed(), expected);
}

// A detach, and the driver's stop, let the application go on untraced, in
// its blocking read too; eBPF never traces it at all.
TEST_P(TraceTest, ADetachOrTheDriversStopLetsTheApplicationGo) {
    CHeldApp app(Port(), "set 9600 8N1 write AT hear write untraced read 3 write after");
    const pid_t p = app.Pid();
    Attach();
    app.Send("go\n");
    EXPECT_TRUE(Has(RecordsUntil(*m_client, m_dwHandle, Written(p, "AT")), Written(p, "AT")));
    EXPECT_EQ(TracingProcessOf(p), IsBpf() ? 0 : m_driver.Pid());
    EXPECT_EQ(m_client->Detach(m_dwHandle), 0);
    EXPECT_TRUE(Eventually([&] { return TracerOf(p) == 0; }));
    app.Send("go\n");
    EXPECT_TRUE(m_pty.WaitReceived(10));
    Attach();
    ASSERT_TRUE(IsBpf() || Eventually([&] { return TracingProcessOf(p) == m_driver.Pid(); }));
    EXPECT_EQ(m_driver.Stop(), 0);
    EXPECT_EQ(TracerOf(p), 0);
    m_pty.Send("abc");
    EXPECT_EQ(app.Wait(), 0);
    EXPECT_EQ(app.WaitLine("read:"), "read:abc");
    EXPECT_TRUE(m_pty.WaitReceived(15));
    EXPECT_EQ(m_pty.Received(), "ATuntracedafter");
}

// Processes that let go of the port at the same moment, by a close or by a
// kill, each get their own close. One opened it read-only: inotify would
// fold two identical closes into one. Then on one CPU the tracer, woken by an
// open, runs before the opener has its fd: each opener is captured from its
// first write even so.
TEST_P(TraceTest, ClosesAtOnceAndOpenersOnOneCpuAreEachTheirOwnProcess) {
    Attach();
    for (int i = 0; i < 16; ++i) {
        CChild a(AppOn(Port(), "say opened hear close hear")),
            b({"/bin/sh", "-c", "exec 3<" + Port() + "; echo opened; read x; exec 3<&-; read x"});
        const pid_t pa = a.Pid(), pb = b.Pid();
        RecordsUntil(*m_client, m_dwHandle, Line(pa, 0, 0, 8), {Line(pb, 0, 0, 8)});
        for (CChild* pApp : {&a, &b})
            i % 2 ? pApp->Kill(SIGKILL) : pApp->Send("go\n");
        const auto records = RecordsUntil(*m_client, m_dwHandle, Closed(pa), {Closed(pb)});
        ASSERT_EQ(records.size(), 2u) << testing::PrintToString(records) << " round " << i;
    }
    const std::string strDriver = std::to_string(m_driver.Pid());
    ASSERT_EQ(CChild({"/usr/bin/taskset", "-a", "-p", "-c", "0", strDriver}).Wait(), 0);
    for (int i = 0; i < 10; ++i) {
        CChild app({"/usr/bin/taskset", "-c", "0", TRACE_APP_PATH, "open", Port(), "write", "AT",
                    "close"});
        ASSERT_EQ(app.Wait(), 0);
        const pid_t p = app.Pid();
        ASSERT_EQ(RecordsUntil(*m_client, m_dwHandle, Closed(p)),
                  Attached(p, {Written(p, "AT"), Closed(p)}));
    }
}

// Holders that got the port's fd without opening it, over a unix socket or
// with pidfd_getfd: eBPF sees their calls as they come; no open tells the
// ptrace source of them, so it looks for them (a take only at the slow look,
// on its ticks once an fd went over a socket), and says that what they did
// before it found them may be missing.
TEST_P(TraceTest, AReceiverAndATakerOfThePortsFdAreCaptured) {
    if (!InPrivateNamespace())
        return;
    // The child waits so long for a tracer (not eBPF's), then writes.
    for (const auto& [pszSteps, pszChild, pszText] :
         {std::tuple{"await 3000 take via-pidfd", "taken:", "via-pidfd"},
          std::tuple{"await 150 pass via-socket", "passed:", "via-socket"}}) {
        CPty pty;
        const std::string strSteps = IsBpf() ? std::strchr(pszSteps + 6, ' ') + 1 : pszSteps;
        CHeldApp app(pty.Slave(), strSteps + " close");
        CRawClient client(m_driver.DevicePath());
        const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
        const pid_t p = app.Pid();
        RecordsUntil(client, dwHandle, Line(p, 0, 0, 8));
        app.Send("go\n");
        const std::string strChild = app.WaitLine(pszChild);
        ASSERT_EQ(app.Wait(), 0) << app.Err();
        const pid_t n = std::stoi(strChild.substr(std::strlen(pszChild)));
        std::vector<CRecord> expected = {Written(n, pszText), Closed(p)};
        if (!IsBpf())
            expected.insert(expected.begin(), {TracedLate(n), Baud(n, 38400), Line(n, 0, 0, 8)});
        EXPECT_EQ(RecordsUntil(client, dwHandle, Closed(p)), expected) << pszSteps;
    }
}

// A process that lets go of two ports at once, by its end, by an exec that
// closes both, by one close_range, closes each; eBPF sees it as it happens.
TEST_P(TraceTest, EveryPortReleasedAtOnceIsClosed) {
    if (!IsBpf())
        GTEST_SKIP() << "the ptrace source learns of a traced process's second port late";
    CPty second;
    Attach();
    const std::uint32_t dwSecond = m_client->AttachOk(second.Slave());
    const std::string strOpen = "import os\nflags = os.O_RDWR | os.O_NOCTTY | os.O_CLOEXEC\na = "
                                "os.open('" +
                                Port() + "', flags)\nb = os.open('" + second.Slave() +
                                "', flags)\n";
    for (const char* pszRelease :
         {"os._exit(0)", "os.execv('/bin/true', ['true'])", "os.closerange(a, b + 1)"}) {
        CChild app({"/usr/bin/python3", "-c", strOpen + pszRelease});
        ASSERT_EQ(app.Wait(), 0) << app.Err();
        const pid_t p = app.Pid();
        auto expected = Standard(p, {Closed(p)});
        expected.insert(expected.begin(), Opened(p));
        EXPECT_EQ(RecordsUntil(*m_client, m_dwHandle, Closed(p)), expected) << pszRelease;
        EXPECT_EQ(RecordsUntil(*m_client, dwSecond, Closed(p)), expected) << pszRelease;
    }
}

CAPTURE_SOURCES(TraceTest);

} // namespace
