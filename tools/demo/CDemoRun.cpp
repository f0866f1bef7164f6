#include "CDemoRun.h"

#include "DemoDriver.h"
#include "PortMapFile.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace {

constexpr int HANGUP_RETRY_MS = 100;
constexpr int APP_GRACE_MS = 2000;
constexpr int DRIVER_GRACE_MS = 5000;

std::string TempDirectory() {
    const char* pszTmp = std::getenv("TMPDIR");
    std::string strTemplate =
        std::string(pszTmp != nullptr && *pszTmp ? pszTmp : "/tmp") + "/wirelet-demo.XXXXXX";
    return mkdtemp(strTemplate.data()) != nullptr ? strTemplate : std::string();
}

// The sample application is installed beside the demo.
std::string SampleAppPath() {
    std::error_code error;
    return (fs::read_symlink("/proc/self/exe", error).parent_path() / "wirelet-demo-app").string();
}

bool Fail(const std::string& strWhat, int nError = errno) {
    std::cerr << "wirelet-demo: " << strWhat << ": " << std::strerror(nError) << "\n";
    return false;
}

} // namespace

CDemoRun::CDemoRun(CDemoOptions options)
    : m_options(std::move(options)), m_signals({SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {}

CDemoRun::~CDemoRun() {
    m_command.Stop(APP_GRACE_MS);
    m_app.Stop(APP_GRACE_MS);
    m_driver.Stop(DRIVER_GRACE_MS);
    if (!m_strDir.empty()) {
        std::error_code error;
        fs::remove_all(m_strDir, error);
    }
}

int CDemoRun::Run() {
    if (!Start())
        return 1;
    bool bHungUp = false;
    while (!IsOver()) {
        // A hung-up master reports POLLHUP whatever it is asked for, so it
        // sits out the retry pause altogether.
        pollfd fds[] = {{m_signals.Get(), POLLIN, 0},
                        {bHungUp ? -1 : m_port.GetMasterFd(), POLLIN, 0}};
        if (poll(fds, 2, bHungUp ? HANGUP_RETRY_MS : -1) < 0 && errno != EINTR) {
            Fail("poll");
            return 1;
        }
        bHungUp = false;
        if (fds[1].revents != 0)
            bHungUp = !m_port.Serve();
        while (const auto info = m_signals.Read())
            OnSignal(*info);
    }
    return m_command.GetStatus().value_or(0);
}

bool CDemoRun::Start() {
    m_strDir = TempDirectory();
    if (m_strDir.empty())
        return Fail("cannot make a temporary directory");
    if (const int nError = m_port.Open())
        return Fail("cannot make a pty pair", nError);
    const std::string strMap = m_strDir + "/ports";
    if (!PortMapFile::Write(strMap, m_port.GetPortPath()))
        return Fail("cannot write " + strMap);
    if (!m_options.strDriverImage.empty())
        DemoDriver::Ensure(m_options.strDriverImage, m_strDir + "/driver.log", m_signals, m_driver);

    std::vector<std::string> app = {SampleAppPath(), m_port.GetPortPath()};
    if (!m_options.strTranscript.empty())
        app.insert(app.end(), {"--transcript", m_options.strTranscript});
    CChildOptions appOptions;
    appOptions.bOwnGroup = true;
    if (!m_app.Start(app, m_signals, appOptions))
        return Fail("cannot start the sample application");
    std::cerr << "wirelet-demo: the demo port is " << m_port.GetPortPath()
              << ": a modem answering AT commands, asked by wirelet-demo-app every second\n"
              << "wirelet-demo: WIRELET_SERIALCOMM=" << strMap << " offers it\n";

    if (m_options.command.empty())
        return true;
    CChildOptions command;
    command.environment = {{"WIRELET_SERIALCOMM", strMap},
                           {"WIRELET_DEMO_PORT", m_port.GetPortPath()}};
    if (!m_command.Start(m_options.command, m_signals, command))
        return Fail("cannot start " + m_options.command.front());
    return true;
}

bool CDemoRun::IsOver() const {
    return m_command.GetPid() != 0 ? !m_command.IsRunning() : m_bStopped;
}

void CDemoRun::OnSignal(const signalfd_siginfo& info) {
    if (info.ssi_signo == SIGCHLD) {
        ReapChildren();
        return;
    }
    // A terminal's Ctrl+C or hang-up has reached the command already: it is
    // in our process group. A signal sent to the demo alone is passed on.
    if (m_command.IsRunning()) {
        if (info.ssi_code != SI_KERNEL)
            m_command.Signal(int(info.ssi_signo));
        return;
    }
    m_bStopped = true;
}

void CDemoRun::ReapChildren() {
    int nWaitStatus = 0;
    pid_t nPid;
    while ((nPid = waitpid(-1, &nWaitStatus, WNOHANG)) > 0) {
        if (m_command.Reaped(nPid, nWaitStatus))
            continue;
        if (m_app.Reaped(nPid, nWaitStatus))
            std::cerr << "wirelet-demo: the sample application ended with status "
                      << *m_app.GetStatus() << "\n";
        else if (m_driver.Reaped(nPid, nWaitStatus))
            std::cerr << "wirelet-demo: the capture driver ended with status "
                      << *m_driver.GetStatus() << "\n";
    }
}
