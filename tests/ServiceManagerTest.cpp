// The service manager against real daemons: shell scripts written by each
// test stand in for driver images that behave well or badly in one way.
#include "CServiceManager.h"
#include "CServiceSandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr std::uint32_t ALL_SERVICE = Scm::SERVICE_ALL_ACCESS;
constexpr const char* READY_BODY = "printf 'READY\\n' >&$VANTRY_READY_FD\nexec sleep 30";

std::string ReadText(const std::string& strPath) {
    std::ifstream file(strPath);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Field n (from 1) of /proc/<pid>/stat; empty when there is no such process.
std::string ProcStatField(pid_t nPid, int nField) {
    const std::string strStat = ReadText("/proc/" + std::to_string(nPid) + "/stat");
    if (strStat.empty())
        return {};
    std::istringstream fields(strStat.substr(strStat.rfind(')') + 2));
    std::string strValue;
    for (int n = 3; n <= nField; ++n)
        fields >> strValue;
    return strValue;
}

bool IsProcessAlive(pid_t nPid) {
    const std::string strState = ProcStatField(nPid, 3);
    return !strState.empty() && strState != "Z" && strState != "X";
}

pid_t ReadPid(const std::string& strPath) {
    return pid_t(std::atoi(ReadText(strPath).c_str()));
}

void KillAndWait(pid_t nPid) {
    kill(nPid, SIGKILL);
    while (IsProcessAlive(nPid))
        usleep(1000);
}

class ServiceManagerTest : public CServiceSandbox {
protected:
    static CServiceManager OpenManager(int nReadyMs = 5000, int nStopMs = 5000) {
        return CServiceManager::Open(nullptr, Scm::SERVICES_ACTIVE_DATABASE,
                                     Scm::SC_MANAGER_ALL_ACCESS, {nReadyMs, nStopMs});
    }
    static CServiceConfig Config(const std::string& strImage) {
        CServiceConfig config;
        config.strName = config.strDisplayName = "Probe";
        config.strImagePath = strImage;
        return config;
    }
    // Each image notes its pid first, so that a test can see it is gone.
    std::string Image(const std::string& strName, const std::string& strBody) {
        return WriteScript(strName, "echo $$ > \"$0.pid\"\n" + strBody);
    }
    pid_t RunningPid() const { return ReadPid(m_strDatabase + "/Probe/pid"); }
};

TEST_F(ServiceManagerTest, ServiceLivesThroughCreateStartStopAndDelete) {
    CServiceManager manager = OpenManager();
    ASSERT_TRUE(manager.IsValid()) << manager.GetError();
    const std::string strImage = Image("ready", READY_BODY);
    CService service = manager.CreateService(Config(strImage), ALL_SERVICE);
    ASSERT_TRUE(service.IsValid()) << service.GetError();
    EXPECT_EQ(service.QueryConfig(), Config(strImage));
    EXPECT_EQ(manager.CreateService(Config(strImage), ALL_SERVICE).GetError(), EEXIST);

    ASSERT_EQ(service.Start(), 0);
    const pid_t nPid = RunningPid();
    ASSERT_TRUE(IsProcessAlive(nPid));
    // Detached: another session than ours, and no controlling terminal.
    EXPECT_NE(getsid(nPid), getsid(0));
    EXPECT_EQ(ProcStatField(nPid, 7), "0");
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
    struct CCase {
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
        CServiceManager manager = OpenManager(300);
        CService service = manager.CreateService(Config(strImage), ALL_SERVICE);
        ASSERT_TRUE(service.IsValid());
        EXPECT_EQ(service.Start(), test.nError);
        EXPECT_FALSE(service.IsRunning());
        if (!test.strBody.empty()) {
            EXPECT_FALSE(IsProcessAlive(ReadPid(strImage + ".pid")));
        }
        if (test.strBody.find("cannot") != std::string::npos) {
            EXPECT_EQ(ReadText(m_strDatabase + "/Probe/log"), "vantry: cannot create device\n");
        }
        EXPECT_EQ(service.Delete(), 0);
    }
}

TEST_F(ServiceManagerTest, DaemonInheritsOnlyItsStandardStreamsAndReadyDescriptor) {
    // Held open without close-on-exec, as a careless library might.
    const int nLeaky = open((m_strDirectory + "/leak").c_str(), O_WRONLY | O_CREAT, 0600);
    const std::string strImage =
        Image("fds", "ls -l /proc/$$/fd >&2\nprintf 'READY\\n' >&$VANTRY_READY_FD\nexec sleep 30");
    CService service = OpenManager().CreateService(Config(strImage), ALL_SERVICE);
    ASSERT_EQ(service.Start(), 0);
    close(nLeaky);
    const std::string strListing = ReadText(m_strDatabase + "/Probe/log");
    EXPECT_EQ(strListing.find("leak"), std::string::npos) << strListing;
    EXPECT_NE(strListing.find("0 -> /dev/null"), std::string::npos) << strListing;
    // The one pipe is the ready descriptor.
    EXPECT_EQ(strListing.find("pipe:"), strListing.rfind("pipe:")) << strListing;
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(RunningPid()) + "/cwd"), "/");
}

TEST_F(ServiceManagerTest, RecordOfAVanishedOrRecycledPidIsNotARunningService) {
    CService service = OpenManager().CreateService(Config(Image("ready", READY_BODY)), ALL_SERVICE);
    ASSERT_EQ(service.Start(), 0);
    KillAndWait(RunningPid());
    EXPECT_FALSE(service.IsRunning());
    EXPECT_EQ(service.Start(), 0);

    // Our own pid with another start time: a recycled pid. A stop must not
    // signal whoever has the pid now.
    EXPECT_EQ(service.Control(Scm::SERVICE_CONTROL_STOP), 0);
    std::ofstream(m_strDatabase + "/Probe/pid") << getpid() << " 1\n";
    EXPECT_FALSE(service.IsRunning());
    EXPECT_EQ(service.Control(Scm::SERVICE_CONTROL_STOP), ESRCH);
}

TEST_F(ServiceManagerTest, DeletedWhileRunningGoesWhenItStops) {
    CServiceManager manager = OpenManager();
    CService service = manager.CreateService(Config(Image("ready", READY_BODY)), ALL_SERVICE);
    ASSERT_EQ(service.Start(), 0);
    EXPECT_EQ(service.Delete(), 0);
    EXPECT_EQ(service.Delete(), EIDRM);
    EXPECT_TRUE(manager.OpenService("Probe", ALL_SERVICE).IsValid());
    EXPECT_EQ(manager.CreateService(Config("/bin/true"), ALL_SERVICE).GetError(), EEXIST);
    EXPECT_EQ(service.Control(Scm::SERVICE_CONTROL_STOP), 0);
    EXPECT_EQ(manager.OpenService("Probe", ALL_SERVICE).GetError(), ENOENT);

    // Also when it stopped by itself.
    CService again = manager.CreateService(Config(Image("ready", READY_BODY)), ALL_SERVICE);
    ASSERT_EQ(again.Start(), 0);
    EXPECT_EQ(again.Delete(), 0);
    KillAndWait(RunningPid());
    EXPECT_EQ(manager.OpenService("Probe", ALL_SERVICE).GetError(), ENOENT);
    EXPECT_FALSE(std::filesystem::exists(m_strDatabase + "/Probe"));
}

TEST_F(ServiceManagerTest, DaemonThatIgnoresTheStopIsKilled) {
    CService service = OpenManager(5000, 200).CreateService(
        Config(Image("stubborn", std::string("trap '' TERM\n") + READY_BODY)), ALL_SERVICE);
    ASSERT_EQ(service.Start(), 0);
    const pid_t nPid = RunningPid();
    EXPECT_EQ(service.Control(Scm::SERVICE_CONTROL_STOP), 0);
    EXPECT_FALSE(IsProcessAlive(nPid));
}

TEST_F(ServiceManagerTest, RefusesWhatItMustNotDo) {
    // Only root may change the database; nobody gets no further.
    const CChildResult child = RunAsNobody([](IMessageBox&) {
        return CServiceManager::Open(nullptr, Scm::SERVICES_ACTIVE_DATABASE,
                                     Scm::SC_MANAGER_ALL_ACCESS)
            .GetError();
    });
    EXPECT_EQ(child.nExitStatus, EACCES);

    CServiceManager manager = OpenManager();
    ASSERT_TRUE(manager.IsValid());
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
    chmod(m_strDatabase.c_str(), 0777);
    EXPECT_EQ(OpenManager().GetError(), EPERM);
}

} // namespace
