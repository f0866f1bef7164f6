// A real vantry.sys: what a capture may reach, and where its limits show.
// Cases that reach beyond the test's own pty run in a private namespace.
#include "CDriverProcess.h"
#include "CPortChecks.h"
#include "CRawClient.h"
#include "CaptureSource.h"
#include "PrivateNamespace.h"
#include "RunAs.h"
#include "TraceHarness.h"

#include "VantryProtocol.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>

using namespace Expect;

namespace {

struct LiveCaptureTest : ::testing::Test {
    CDriverProcess driver;
    CPty pty;

    int AttachAs(uid_t uid, const std::string& strPath, const std::vector<gid_t>& groups = {}) {
        return RunAs(uid, groups,
                     [&] { return CRawClient(driver.DevicePath()).Attach(strPath).nStatus; });
    }
    void SetMode(uid_t uid, gid_t gid, mode_t mode) {
        ASSERT_EQ(chown(pty.Slave().c_str(), uid, gid), 0);
        ASSERT_EQ(chmod(pty.Slave().c_str(), mode), 0);
    }
    // A process opens the port and writes strText once its open was seen.
    void ExpectLateOpenerCaptured(CRawClient& client, std::uint32_t dwHandle,
                                  const std::string& strText) {
        CHeldApp app(pty.Slave(), "write " + strText + " close");
        const pid_t p = app.Pid();
        RecordsUntil(client, dwHandle, Opened(p));
        app.Send("go\n");
        EXPECT_EQ(app.Wait(), 0);
        EXPECT_TRUE(Has(RecordsUntil(client, dwHandle, Closed(p)), Written(p, strText)));
    }

    // A kernel that lets the fanotify group be made but refuses its mark on
    // a node: here a user namespace's mark limit of 0.
    void StartPtraceWithoutFanotifyMarks() {
        std::ofstream("/proc/sys/user/max_fanotify_marks") << 0 << std::endl;
        ASSERT_TRUE(driver.Start({"--source", "ptrace"})) << driver.Stderr();
    }
};

// Where fanotify refuses the mark, a port's late openers are left to inotify
// and the walk through /proc.
TEST_F(LiveCaptureTest, ALateOpenerIsFoundWhereFanotifyRefusesTheMark) {
    if (!InPrivateUserNamespace())
        return;
    StartPtraceWithoutFanotifyMarks();
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    ExpectLateOpenerCaptured(client, dwHandle, "late");
    driver.Stop();
    EXPECT_NE(driver.Stderr().find("fanotify refused to watch a port's node"), std::string::npos);
}

// Without fanotify's closers, a close goes to the traced process whose call
// released the port: here a dup2 over its last fd, as a shell restores its
// stdout after `> port`.
TEST_F(LiveCaptureTest, APortReleasedByDup2IsClosedByItsProcessWithoutFanotify) {
    if (!InPrivateUserNamespace())
        return;
    StartPtraceWithoutFanotifyMarks();
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    for (int i = 0; i < 10; ++i) {
        CHeldApp app(pty.Slave(), "write AT dup2 self hear");
        const pid_t p = app.Pid();
        RecordsUntil(client, dwHandle, Line(p, 0, 0, 8));
        app.Send("go\n");
        const auto records = RecordsUntil(client, dwHandle, Written(p, "AT"), {Closed(p)});
        EXPECT_TRUE(Has(records, Closed(p))) << testing::PrintToString(records);
        app.Send("end\n");
        EXPECT_EQ(app.Wait(), 0) << app.Err();
    }
}

// The cases with a live capture, once per source.
struct LiveSourceTest : LiveCaptureTest, CCaptureSource {
    void SetUp() override {
        if (IsBpf() && !BpfRefusal().empty())
            GTEST_SKIP() << "no eBPF here: " << BpfRefusal();
    }
};

TEST_F(LiveCaptureTest, OnlySerialPortsTheCallerCouldReadAndWriteCanBeAttachedByItAlone) {
    ASSERT_TRUE(driver.StartReplay({Records::Read("x")})) << driver.Stderr();
    // A handle works on every connection of its user, and no other user's.
    SetMode(NOBODY, 0, 0600);
    CRawClient root(driver.DevicePath());
    const std::uint32_t dwRoot = root.AttachOk(pty.Slave());
    const int nResult = RunAs(NOBODY, {}, [&] {
        CRawClient mine(driver.DevicePath()), other(driver.DevicePath());
        const std::uint32_t dwMine = mine.AttachOk(pty.Slave());
        return int(other.Wait(dwRoot).nStatus == EBADF && other.Detach(dwRoot) == EBADF &&
                   other.Next(dwMine).size() == Vantry::RECORD_DATA_OFFSET + 1 &&
                   other.Detach(dwMine) == 0);
    });
    EXPECT_EQ(nResult, 1);
    EXPECT_EQ(root.Wait(dwRoot).nStatus, 0); // untouched by the other user's tries
    EXPECT_EQ(root.Detach(dwRoot), 0);

    constexpr gid_t GROUP = 4321;
    const struct {
        uid_t uid;
        gid_t gid;
        mode_t mode;
        std::vector<gid_t> groups;
        int nNobody;
    } modes[] = {
        {0, GROUP, 0660, {}, EACCES},
        {0, GROUP, 0660, {GROUP}, 0}, // a supplementary group counts
        {0, GROUP, 0660, {1, GROUP, 2}, 0},
        {0, GROUP, 0640, {GROUP}, EACCES}, // read alone is not enough
        {NOBODY, 0, 0600, {}, 0},
        {NOBODY, 0, 0066, {}, EACCES}, // the owner's bits apply to the owner, not the others'
        {0, 0, 0606, {}, 0},
    };
    for (const auto& c : modes) {
        SetMode(c.uid, c.gid, c.mode);
        EXPECT_EQ(AttachAs(NOBODY, pty.Slave(), c.groups), c.nNobody) << std::oct << c.mode;
    }
    SetMode(0, 0, 0000);
    EXPECT_EQ(AttachAs(0, pty.Slave()), 0);

    // Terminals into other people's sessions are no serial ports, whoever
    // asks; and behind a directory nobody cannot search, or through another
    // user's /proc links, nothing is told apart.
    ASSERT_EQ(chmod(pty.Slave().c_str(), 0666), 0);
    const std::string strClosed = driver.Dir() + "/closed";
    ASSERT_EQ(mkdir(strClosed.c_str(), 0700), 0);
    std::ofstream(strClosed + "/file") << "x";
    ASSERT_EQ(symlink(pty.Slave().c_str(), (strClosed + "/port").c_str()), 0);
    ASSERT_EQ(symlink(pty.Slave().c_str(), (driver.Dir() + "/open-link").c_str()), 0);
    const std::string strRoot = "/proc/" + std::to_string(getpid()) + "/root";
    struct Case {
        std::string strPath;
        int nRoot, nNobody;
    } cases[] = {
        {strClosed + "/port", 0, EACCES},
        {strClosed + "/file", ENOTTY, EACCES},
        {strClosed + "/missing", ENOENT, EACCES},
        {driver.Dir() + "/open-link", 0, 0},
        {driver.Dir() + "/missing", ENOENT, ENOENT},
        {pty.Slave(), 0, 0},
        {strRoot + "/etc/passwd", ELOOP, EACCES},
        {strRoot + "/etc/missing", ELOOP, EACCES},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AttachAs(0, c.strPath), c.nRoot) << c.strPath;
        EXPECT_EQ(AttachAs(NOBODY, c.strPath), c.nNobody) << c.strPath;
    }
    for (const char* pszPath :
         {"/dev/ptmx", "/dev/pts/ptmx", "/dev/tty", "/dev/console", "/dev/tty0", "/dev/tty1"}) {
        if (access(pszPath, F_OK) == 0) {
            EXPECT_EQ(AttachAs(0, pszPath), ENOTTY) << pszPath;
            EXPECT_EQ(AttachAs(NOBODY, pszPath), ENOTTY) << pszPath;
        }
    }
}

TEST_P(LiveSourceTest, APtyOfAnotherDevptsInstanceOrANodeMadeAgainIsAnotherPort) {
    if (!InPrivateNamespace())
        return;
    ASSERT_TRUE(driver.Start(Args())) << driver.Stderr();
    const int nIndex = std::stoi(pty.Slave().substr(pty.Slave().rfind('/') + 1));
    const CPrivateDevpts devpts(driver.Dir() + "/pts");
    // Same index, same device number as the host's pty.
    std::vector<CScopedFd> masters;
    std::string strPrivate;
    for (int i = 0; i <= nIndex; ++i)
        masters.push_back(devpts.Open(strPrivate));
    // The host's pty is reached through /dev/tty too, as its user's terminal.
    CHeldApp host(pty.Slave(), "write host ctty opentty write tty close"),
        mine(strPrivate, "write mine close");

    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(strPrivate);
    EXPECT_EQ(TracerOf(host.Pid()), 0);
    host.Send("go\n");
    EXPECT_EQ(host.Wait(), 0);
    mine.Send("go\n");
    EXPECT_EQ(mine.Wait(), 0);
    const pid_t p = mine.Pid();
    EXPECT_EQ(RecordsUntil(client, dwHandle, Closed(p)),
              Standard(p, {Written(p, "mine"), Closed(p)}));

    // Both watched, then one let go: the other, of the same major number,
    // is still watched.
    const std::uint32_t dwHost = client.AttachOk(pty.Slave());
    ASSERT_EQ(client.Detach(dwHandle), 0);
    ExpectLateOpenerCaptured(client, dwHost, "again");

    // Unplugging and plugging an adapter back, as a pty shows it: the node
    // is removed and made again under the same name and number.
    std::string strPort, strAgain;
    CScopedFd master = devpts.Open(strPort);
    const std::uint32_t dwFirst = client.AttachOk(strPort);
    master.Reset();
    master = devpts.Open(strAgain);
    ASSERT_EQ(strAgain, strPort);
    CHeldApp app(strPort, "write again close");
    const std::uint32_t dwSecond = client.AttachOk(strPort);
    app.Send("go\n");
    ASSERT_EQ(app.Wait(), 0);
    const pid_t a = app.Pid();
    // eBPF knows the port by its identity, whatever node it has, and sees
    // the open; ptrace looks at the node, and learns of it at the attach.
    auto expected = Standard(a, {Written(a, "again"), Closed(a)});
    if (IsBpf())
        expected.insert(expected.begin(), Opened(a));
    EXPECT_EQ(RecordsUntil(client, dwSecond, Closed(a)),
              IsBpf() ? std::vector<CRecord>(expected.begin() + 1, expected.end()) : expected);
    EXPECT_EQ(RecordsUntil(client, dwFirst, Closed(a)), expected);
}

// A process whose controlling terminal is the port uses it through /dev/tty
// (passwd on a serial console). ptrace learns of opens from the port's node,
// which /dev/tty never touches: it sees only the holder's close.
TEST_P(LiveSourceTest, ThePortAsAControllingTerminalIsCapturedThroughDevTty) {
    if (!InPrivateNamespace())
        return;
    ASSERT_TRUE(driver.Start(Args())) << driver.Stderr();
    CHeldApp app(pty.Slave(), "ctty opentty set 9600 8N1 write pass say wrote read 3 close");
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    const pid_t p = app.Pid();
    RecordsUntil(client, dwHandle, Line(p, 0, 0, 8));
    app.Send("go\n");
    const std::string strSession = app.WaitLine("session:");
    ASSERT_GT(strSession.size(), 8u) << app.Err();
    const pid_t s = std::stoi(strSession.substr(8));
    ASSERT_FALSE(app.WaitLine("wrote").empty()) << app.Err();
    pty.Send("key");
    EXPECT_EQ(app.WaitLine("read:"), "read:key");
    EXPECT_EQ(app.Wait(), 0) << app.Err();
    std::vector<CRecord> expected{Closed(p)};
    if (IsBpf())
        expected.insert(expected.begin(),
                        {Opened(s), Baud(s, 38400), Line(s, 0, 0, 8), Baud(s, 9600),
                         Line(s, 0, 0, 8), Written(s, "pass"), Read(s, "key"), Closed(s)});
    EXPECT_EQ(RecordsUntil(client, dwHandle, Closed(p)), expected);
}

// Each control call as a real process makes it on a pty, the calls the pty
// refuses (it has no modem lines) and a changed flow control, after the
// record that names the process, once.
TEST_P(LiveSourceTest, ControlCallsAndRefusedCallsAreRecordedAfterTheProcessIsNamed) {
    if (!InPrivateNamespace())
        return;
    ASSERT_TRUE(driver.Start(Args())) << driver.Stderr();
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    const auto C = Vantry::CAPTURE_PORT_CONTROL, F = Vantry::CAPTURE_CALL_FAILED;
    const struct {
        const char* pszCall;
        std::int8_t nType;
        std::uint32_t dwFirst, dwSecond;
    } table[] = {
        {"TCSBRK 0", C, Vantry::CONTROL_BREAK, 250},
        {"TCSBRK 1", C, Vantry::CONTROL_DRAIN, 0},
        {"TCSBRKP 3", C, Vantry::CONTROL_BREAK, 300},
        {"TCSBRKP 0", C, Vantry::CONTROL_BREAK, 250},
        {"TIOCSBRK 0", C, Vantry::CONTROL_BREAK_ON, 0},
        {"TIOCCBRK 0", C, Vantry::CONTROL_BREAK_OFF, 0},
        {"TCFLSH 2", C, Vantry::CONTROL_FLUSH, 2},
        {"TCXONC 1", C, Vantry::CONTROL_FLOW, 1},
        {"TIOCMBIS 6", F, TIOCMBIS, ENOTTY},
        {"TCFLSH 7", F, TCFLSH, EINVAL},
        {"TCSETS bad", F, TCSETS, EFAULT},
    };
    std::string strSteps;
    for (const auto& c : table)
        strSteps += std::string("ioctl ") + c.pszCall + " ";
    CHeldApp app(pty.Slave(), strSteps + "flow 5 2 flow 5 2 close");
    const pid_t p = app.Pid();
    // What the pty starts with (IXON, VMIN 1), then what the steps changed.
    std::vector<CRecord> expected = {Process(p, 0), Flow(p, Vantry::FLOW_XON_OUT, 1, 0)};
    for (const auto& c : table)
        expected.push_back(Control(p, c.nType, c.dwFirst, c.dwSecond));
    expected.push_back(Flow(p, Vantry::FLOW_RTS_CTS | Vantry::FLOW_XON_IN, 5, 2));
    // Traced, and its settings read, before it goes on.
    auto records = RecordsUntil(client, dwHandle, Line(p, 0, 0, 8), {}, true);
    app.Send("go\n");
    EXPECT_EQ(app.Wait(), 0) << app.Err();
    for (const CRecord& record : RecordsUntil(client, dwHandle, Closed(p), {}, true))
        records.push_back(record);
    std::erase_if(records, [](const CRecord& r) { return r.nType < Vantry::CAPTURE_PROCESS; });
    EXPECT_EQ(records, expected);
}

TEST_P(LiveSourceTest, AUserSeesOnlyItsOwnProcessesAndRootSeesAll) {
    if (!InPrivateNamespace())
        return;
    ASSERT_TRUE(driver.Start(Args())) << driver.Stderr();
    ASSERT_EQ(chmod(pty.Slave().c_str(), 0666), 0);
    CHeldApp root(pty.Slave(), "write secret hear write secret2 close"),
        mine(pty.Slave(), "write mine hear write mine2 close",
             {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    const pid_t r = root.Pid(), m = mine.Pid();

    // Alone, the user's capture leaves root's process untraced and names it.
    const int nAlone = RunAs(NOBODY, {}, [&] {
        CRawClient client(driver.DevicePath());
        const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
        root.Send("go\n");
        mine.Send("go\n");
        // Only its own process is named to it.
        const auto records = RecordsUntil(client, dwHandle, Written(m, "mine"), {}, true);
        auto expected = Standard(m, {Flow(m, Vantry::FLOW_XON_OUT, 1, 0), Written(m, "mine")});
        expected.insert(expected.begin(),
                        {Notice(r, Vantry::NOTICE_PROCESS_OF_OTHER_USER, r), Process(m, NOBODY)});
        return records == expected ? 0 : 1;
    });
    EXPECT_EQ(nAlone, 0);
    EXPECT_EQ(TracerOf(r), 0);

    // Beside root's capture, root's process is traced, and still not shown.
    CRawClient rootClient(driver.DevicePath());
    const std::uint32_t dwRoot = rootClient.AttachOk(pty.Slave());
    // Both are traced, and their settings read, before the user comes back.
    RecordsUntil(rootClient, dwRoot, Line(r, 0, 0, 8), {Line(m, 0, 0, 8)});
    const int nBeside = RunAs(NOBODY, {}, [&] {
        CRawClient client(driver.DevicePath());
        const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
        // One after the other: inotify folds two closes that come together.
        root.Send("go\n");
        Eventually([&] { return ProcStatField(r, 3) == "Z"; });
        mine.Send("go\n");
        auto records = RecordsUntil(client, dwHandle, Closed(m));
        std::erase(records, Notice(r, Vantry::NOTICE_PROCESS_OF_OTHER_USER, r));
        // A later attachment is told the settings of the holders it sees.
        return records == Standard(m, {Written(m, "mine2"), Closed(m)}) ? 0 : 1;
    });
    EXPECT_EQ(nBeside, 0);
    EXPECT_EQ(root.Wait(), 0);
    const auto all = RecordsUntil(rootClient, dwRoot, Closed(r), {Closed(m)});
    EXPECT_TRUE(Has(all, Written(r, "secret2")) && Has(all, Written(m, "mine2")))
        << testing::PrintToString(all);
}

// The user's own process opens the port, writes, and runs a set-user-ID
// program on it: however the exec falls against the seize, nothing the
// program writes reaches the user. WIRELET_SETUID_TRIES sets the tries.
TEST_P(LiveSourceTest, ASetUserIdProgramWritesNothingItsCallerSees) {
    if (!InPrivateNamespace())
        return;
    ASSERT_TRUE(driver.Start(Args())) << driver.Stderr();
    ASSERT_EQ(chmod(pty.Slave().c_str(), 0666), 0);
    const std::string strHelper = driver.Dir() + "/setuid_app";
    std::filesystem::copy_file(TRACE_APP_PATH, strHelper);
    ASSERT_EQ(chmod(strHelper.c_str(), 04755), 0);
    const char* pTries = std::getenv("WIRELET_SETUID_TRIES");
    const int nTries = pTries ? std::atoi(pTries) : 300;
    const std::string strScript =
        "exec 3<>" + pty.Slave() + "; printf mark >&3; exec " + strHelper + " usefd 3 write secret";
    const int nSeen = RunAs(NOBODY, {}, [&] {
        CRawClient client(driver.DevicePath());
        const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
        for (int i = 0; i < nTries; ++i)
            CChild({"/bin/sh", "-c", strScript}).Wait();
        // The user's own last write comes after every earlier record.
        CHeldApp last(pty.Slave(), "write end");
        if (!(IsBpf() || Eventually([&] { return TracerOf(last.Pid()); })))
            return 255;
        last.Send("go\n");
        const auto records = RecordsUntil(client, dwHandle, Written(last.Pid(), "end"));
        if (!Has(records, Written(last.Pid(), "end")))
            return 255;
        return int(std::min<long>(250, std::count_if(records.begin(), records.end(), [](auto& r) {
                                      return r.strData.find("secret") != std::string::npos;
                                  })));
    });
    EXPECT_EQ(nSeen, 0);
}

// What the queue cannot hold is never copied out of the application: the
// records carry what fits, a notice counts the rest.
TEST_P(LiveSourceTest, ACallLargerThanTheQueueIsCutAndTheRestCounted) {
    constexpr std::size_t QUEUE = 256 * 1024, WRITTEN = 1024 * 1024;
    ASSERT_TRUE(driver.Start(Args({"--queue-limit", std::to_string(QUEUE)}))) << driver.Stderr();
    CHeldApp app(pty.Slave(), "big " + std::to_string(WRITTEN) + " close");
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    app.Send("go\n");
    ASSERT_TRUE(pty.WaitReceived(WRITTEN));
    ASSERT_EQ(app.Wait(), 0);
    const pid_t p = app.Pid();
    std::size_t nCaptured = 0, nNotCaptured = 0;
    for (const auto& record : RecordsUntil(client, dwHandle, Closed(p))) {
        if (record.nType == Vantry::CAPTURE_DATA_WRITTEN) {
            nCaptured += record.strData.size();
        } else if (record.nType == Vantry::CAPTURE_DRIVER_NOTICE) {
            const auto* pData = reinterpret_cast<const std::uint8_t*>(record.strData.data());
            EXPECT_EQ(Vantry::GetU32(pData), Vantry::NOTICE_BYTES_NOT_CAPTURED);
            nNotCaptured += Vantry::GetU32(pData + 4);
        }
    }
    EXPECT_GT(nCaptured, QUEUE / 2);
    EXPECT_LE(nCaptured, QUEUE);
    EXPECT_EQ(nCaptured + nNotCaptured, WRITTEN);
}

// Detached and attached again while a thread of its process cannot stop (a
// vfork parent waits out of reach of signals), a port is answered at once
// and the process's settings come all the same: the tracer is not held up.
TEST_P(LiveSourceTest, AProcessThatCannotStopIsCapturedOnceItMovesAgain) {
    ASSERT_TRUE(driver.Start(Args())) << driver.Stderr();
    CChild stuck(AppOn(pty.Slave(), "say opened vfork-sleep 60 write after close"));
    ASSERT_FALSE(stuck.WaitLine("opened").empty()) << stuck.Err();
    const pid_t s = stuck.Pid();
    ASSERT_TRUE(Eventually([&] { return ProcStatField(s, 3) == "D"; }));
    CRawClient client(driver.DevicePath());
    EXPECT_EQ(client.Detach(client.AttachOk(pty.Slave())), 0);
    const std::uint32_t dwAgain = client.AttachOk(pty.Slave());
    EXPECT_TRUE(Has(RecordsUntil(client, dwAgain, Line(s, 0, 0, 8)), Baud(s, 38400)));

    EXPECT_EQ(ProcStatField(s, 3), "D");

    const std::string strChild =
        ReadText("/proc/" + std::to_string(s) + "/task/" + std::to_string(s) + "/children");
    ASSERT_EQ(kill(std::stoi(strChild), SIGKILL), 0);
    EXPECT_TRUE(Has(RecordsUntil(client, dwAgain, Closed(s)), Written(s, "after")));
    EXPECT_EQ(stuck.Wait(), 0);
}

// A lookup that never ends (a FUSE mount that nobody serves) holds up its
// own attach alone, until the driver gives up on it; it holds up neither
// another user's attach and capture nor the driver's exit. A user cannot
// pile such lookups up.
TEST_F(LiveCaptureTest, ALookupThatHangsHoldsUpOnlyItsOwnAttach) {
    if (!InPrivateNamespace())
        return;
    // LeakSanitizer stops every thread at exit, and one stuck in the mount
    // never stops: this driver's leaks are left to the other tests.
    const char* pszSanitizer = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS",
           (std::string(pszSanitizer ? pszSanitizer : "") + ":detect_leaks=0").c_str(), 1);
    ASSERT_TRUE(driver.StartReplay({Records::Read("x")})) << driver.Stderr();
    const std::string strMount = driver.Dir() + "/fuse";
    ASSERT_EQ(mkdir(strMount.c_str(), 0755), 0);
    CScopedFd hFuse(open("/dev/fuse", O_RDWR | O_CLOEXEC));
    const std::string strOptions =
        "fd=" + std::to_string(hFuse.Get()) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
    ASSERT_EQ(mount("fuse", strMount.c_str(), "fuse", 0, strOptions.c_str()), 0);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::future<int>> stalled;
    for (std::size_t i = 0; i < CPortChecks::MAX_CHECKS_PER_USER; ++i)
        stalled.push_back(std::async(std::launch::async, [&] {
            return CRawClient(driver.DevicePath(), 10s).Attach(strMount + "/port").nStatus;
        }));
    EXPECT_EQ(stalled[0].wait_for(300ms), std::future_status::timeout);
    EXPECT_EQ(CRawClient(driver.DevicePath()).Attach(pty.Slave()).nStatus, EAGAIN);

    ASSERT_EQ(chmod(pty.Slave().c_str(), 0666), 0);
    EXPECT_EQ(RunAs(NOBODY, {},
                    [&] {
                        // Held up by the stalled lookups, it would never be answered.
                        CRawClient client(driver.DevicePath(), 10s);
                        return int(client.Next(client.AttachOk(pty.Slave())).size());
                    }),
              Vantry::RECORD_DATA_OFFSET + 1);
    for (auto& attach : stalled)
        EXPECT_EQ(attach.get(), ETIMEDOUT);
    EXPECT_GT(std::chrono::steady_clock::now() - start, 2s);

    // The checking threads are still stuck in the mount.
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(driver.Stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 3s);
}

CAPTURE_SOURCES(LiveSourceTest);

} // namespace
