// The service manager against real daemons: shell scripts written by each
// test stand in for driver images that behave well or badly in one way.
#include "CDaemonLauncher.h"
#include "CServiceSandbox.h"
#include "Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

constexpr std::uint32_t ALL_SERVICE = Scm::SERVICE_ALL_ACCESS;
constexpr const char* READY_BODY = "printf 'READY\\n' >&$VANTRY_READY_FD\nexec sleep 30";

bool IsProcessAlive(pid_t nPid) {
    const std::string strState = ProcStatField(nPid, 3);
    return !strState.empty() && strState != "Z" && strState != "X";
}

class ServiceManagerTest : public CServiceSandbox {
protected:
    static CServiceConfig Config(const std::string& strImage) {
        return {.strName = "Probe", .strDisplayName = "Probe", .strImagePath = strImage};
    }
    // Each image notes its pid first, so that a test can see it is gone.
    std::string Image(const std::string& strName, const std::string& strBody) {
        return WriteScript(strName, "echo $$ > \"$0.pid\"\n" + strBody);
    }
    CService Started(CServiceManager& manager, const std::string& strBody = READY_BODY) {
        CService service = manager.CreateService(Config(Image("image", strBody)), ALL_SERVICE);
        EXPECT_EQ(service.Start(), 0);
        return service;
    }
    pid_t RunningPid() const {
        return pid_t(std::atoi(ReadText(m_strDatabase + "/Probe/pid").c_str()));
    }
};

// The daemon is detached and inherits only its standard streams and the
// ready descriptor, even of a file held open without close-on-exec, as a
// careless library might.
TEST_F(ServiceManagerTest, ServiceLivesThroughCreateStartStopAndDelete) {
    const int nLeaky = open((m_strDirectory + "/leak").c_str(), O_WRONLY | O_CREAT, 0600);
    CServiceManager manager = Manager();
    const std::string strImage =
        Image("ready", std::string("ls -l /proc/$$/fd >&2\n") + READY_BODY);
    CService service = manager.CreateService(Config(strImage), ALL_SERVICE);
    ASSERT_TRUE(service.IsValid()) << service.GetError();
    EXPECT_EQ(service.QueryConfig(), Config(strImage));
    EXPECT_EQ(manager.CreateService(Config(strImage), ALL_SERVICE).GetError(), EEXIST);

    ASSERT_EQ(service.Start(), 0);
    close(nLeaky);
    const pid_t nPid = RunningPid();
    ASSERT_TRUE(IsProcessAlive(nPid));
    EXPECT_NE(getsid(nPid), getsid(0));
    EXPECT_EQ(ProcStatField(nPid, 7), "0"); // no controlling terminal
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(nPid) + "/cwd"), "/");
    const std::string strListing = ReadText(m_strDatabase + "/Probe/log");
    EXPECT_EQ(strListing.find("leak"), std::string::npos) << strListing;
    EXPECT_NE(strListing.find("0 -> /dev/null"), std::string::npos) << strListing;
    EXPECT_EQ(strListing.find("pipe:"), strListing.rfind("pipe:")) << "one pipe: ready's";
    EXPECT_EQ(service.Start(), EALREADY);

    EXPECT_EQ(service.Control(Scm::SERVICE_CONTROL_STOP), 0);
    EXPECT_FALSE(service.IsRunning());
    EXPECT_FALSE(IsProcessAlive(nPid));
    EXPECT_EQ(service.Control(Scm::SERVICE_CONTROL_STOP), ESRCH);
    EXPECT_EQ(service.Delete(), 0);
    EXPECT_EQ(service.Start(), ENOENT);
    EXPECT_EQ(manager.OpenService("Probe", ALL_SERVICE).GetError(), ENOENT);
}

TEST_F(ServiceManagerTest, FailedStartLeavesNothingRunning) {
    const struct {
        const char* pszName;
        std::string strBody; // empty: no image at all
        int nError;
    } cases[] = {
        {"missing", "", ENOENT},
        {"exits", "echo 'vantry: cannot create device' >&2\nexit 1", ECHILD},
        {"silent", "exec sleep 30", ETIMEDOUT},
        {"closes", "eval \"exec $VANTRY_READY_FD>&-\"\nexec sleep 30", ECHILD},
        {"garbled", "printf 'READX\\n' >&$VANTRY_READY_FD\nexec sleep 30", EPROTO},
        {"not-executable", "", EACCES},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.pszName);
        std::string strImage = m_strDirectory + "/" + test.pszName;
        if (!test.strBody.empty())
            Image(test.pszName, test.strBody);
        if (test.nError == EACCES)
            std::ofstream(strImage) << "#!/bin/sh\n";
        CServiceManager manager = Manager({300});
        CService service = manager.CreateService(Config(strImage), ALL_SERVICE);
        ASSERT_TRUE(service.IsValid());
        EXPECT_EQ(service.Start(), test.nError);
        EXPECT_FALSE(service.IsRunning());
        if (!test.strBody.empty()) {
            EXPECT_FALSE(IsProcessAlive(pid_t(std::atoi(ReadText(strImage + ".pid").c_str()))));
        }
        if (test.strBody.find("cannot") != std::string::npos) {
            EXPECT_EQ(ReadText(m_strDatabase + "/Probe/log"), "vantry: cannot create device\n");
        }
        EXPECT_EQ(service.Delete(), 0);
    }
}

// A daemon that went by itself, whose pid was recycled, that ignores the
// stop, or whose service was deleted meanwhile.
TEST_F(ServiceManagerTest, DaemonsThatGoOrStayAreTrackedByPidAndStartTime) {
    CServiceManager manager = Manager({5000, 200});
    CService service = Started(manager);
    kill(RunningPid(), SIGKILL);
    while (IsProcessAlive(RunningPid()))
        usleep(1000);
    EXPECT_FALSE(service.IsRunning());
    EXPECT_EQ(service.Start(), 0);
    EXPECT_EQ(service.Control(Scm::SERVICE_CONTROL_STOP), 0);
    // Our own pid with another start time: a recycled pid, not to be signalled.
    std::ofstream(m_strDatabase + "/Probe/pid") << getpid() << " 1\n";
    EXPECT_FALSE(service.IsRunning());
    EXPECT_EQ(service.Control(Scm::SERVICE_CONTROL_STOP), ESRCH);
    EXPECT_EQ(service.Delete(), 0);

    CService stubborn = Started(manager, std::string("trap '' TERM\n") + READY_BODY);
    const pid_t nStubborn = RunningPid();
    EXPECT_EQ(stubborn.Control(Scm::SERVICE_CONTROL_STOP), 0);
    EXPECT_FALSE(IsProcessAlive(nStubborn));

    // Deleted while running: it goes when it stops, by a stop or by itself.
    EXPECT_EQ(stubborn.Start(), 0);
    EXPECT_EQ(stubborn.Delete(), 0);
    EXPECT_EQ(stubborn.Delete(), EIDRM);
    EXPECT_TRUE(manager.OpenService("Probe", ALL_SERVICE).IsValid());
    EXPECT_EQ(manager.CreateService(Config("/bin/true"), ALL_SERVICE).GetError(), EEXIST);
    EXPECT_EQ(stubborn.Control(Scm::SERVICE_CONTROL_STOP), 0);
    EXPECT_EQ(manager.OpenService("Probe", ALL_SERVICE).GetError(), ENOENT);
    CService again = Started(manager);
    EXPECT_EQ(again.Delete(), 0);
    kill(RunningPid(), SIGKILL);
    while (IsProcessAlive(RunningPid()))
        usleep(1000);
    EXPECT_EQ(manager.OpenService("Probe", ALL_SERVICE).GetError(), ENOENT);
    EXPECT_FALSE(std::filesystem::exists(m_strDatabase + "/Probe"));
}

// A daemon that logs without end stops at the cap, and the log that a
// start finds grown large moves aside, replacing the one before it.
TEST_F(ServiceManagerTest, DaemonLogIsCappedAndRotated) {
    const std::string strLog = m_strDatabase + "/Probe/log";
    CServiceManager manager = Manager();
    CService service =
        manager.CreateService(Config(Image("flood", "trap '' XFSZ\necho started >&2\n"
                                                    "head -c 9000000 /dev/zero >&2\n" +
                                                        std::string(READY_BODY))),
                              ALL_SERVICE);
    std::ofstream(strLog + ".1") << "older\n";
    std::ofstream(strLog) << "earlier\n";
    std::filesystem::resize_file(strLog, CDaemonLauncher::LOG_ROTATE_SIZE);
    ASSERT_EQ(service.Start(), 0);
    EXPECT_EQ(std::filesystem::file_size(strLog + ".1"), CDaemonLauncher::LOG_ROTATE_SIZE);
    EXPECT_EQ(std::filesystem::file_size(strLog), CDaemonLauncher::LOG_LIMIT);
    EXPECT_EQ(ReadText(strLog).substr(0, 8), "started\n");
}

TEST_F(ServiceManagerTest, RefusesWhatItMustNotDo) {
    CServiceManager manager = Manager();
    for (const char* pszName : {"", ".hidden", "../escape", "a/b"}) {
        CServiceConfig config = Config("/bin/true");
        config.strName = pszName;
        EXPECT_EQ(manager.CreateService(config, ALL_SERVICE).GetError(), EINVAL) << pszName;
        EXPECT_EQ(manager.OpenService(pszName, ALL_SERVICE).GetError(), EINVAL) << pszName;
    }
    for (const char* pszImage : {"relative/vantry.sys", "/line\nbreak"})
        EXPECT_EQ(manager.CreateService(Config(pszImage), ALL_SERVICE).GetError(), EINVAL);

    // A handle can do only what it was opened for.
    CService created = manager.CreateService(Config(Image("ready", READY_BODY)), ALL_SERVICE);
    CService starter = manager.OpenService("Probe", Scm::SERVICE_START);
    EXPECT_EQ(starter.Delete(), EACCES);
    EXPECT_EQ(starter.Control(Scm::SERVICE_CONTROL_STOP), EACCES);
    starter.Close();
    EXPECT_EQ(starter.Start(), EBADF);

    // A database others could write to could make root run anything.
    for (const auto& [mode, nError] : {std::pair{0757, EPERM}, {0775, EPERM}, {0755, 0}}) {
        chmod(m_strDatabase.c_str(), mode_t(mode));
        EXPECT_EQ(Manager().GetError(), nError) << std::oct << mode;
    }
}

} // namespace
