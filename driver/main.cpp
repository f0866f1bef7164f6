// vantry.sys: the capture driver. Runs in the foreground (whoever starts it
// detaches it), serves the driver device until SIGTERM or SIGINT, then
// detaches everything, removes the device and exits 0.
#include "CAttachmentTable.h"
#ifdef VANTRY_HAVE_EBPF
#include "CBpfSource.h"
#endif
#include "CDeviceServer.h"
#include "CReplaySource.h"
#include "CSourceSet.h"
#include "CTraceSource.h"
#include "DriverLog.h"
#include "SystemdLink.h"
#include "VantryProtocol.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

namespace {

const char* const USAGE = R"(Usage: vantry.sys [--replay FILE [--fast]] [--queue-limit BYTES]
                  [--source auto|ebpf|ptrace]

The capture driver of wirelet. It listens on the driver device, /run/Vantry
or the path that VANTRY_DEVICE names, and serves attachments until SIGTERM.
Without --replay it captures live: it watches the processes that hold an
attached port open and reports what they do on it.

  --replay FILE        serve every attachment the records of FILE (a record
                       file), with their recorded pacing (pauses
                       longer than a second shortened to one)
  --fast               replay at once, without the pacing
  --source SOURCE      how the live capture sees the processes: ebpf
                       (programs on the kernel's system-call tracepoints,
                       which stop nobody), ptrace (traces them), or auto
                       (the default: eBPF where the kernel takes it,
                       ptrace otherwise)
  --queue-limit BYTES  bytes of records one attachment may hold before newer
                       records are dropped (default 16 MiB, at least 1024);
                       all the attachments of one user hold at most 64 MiB

When VANTRY_READY_FD names a file descriptor, "READY\n" is written to it and
it is closed once the device is listening. Started by systemd's socket unit
(LISTEN_FDS), it serves the socket handed over instead, leaves its removal to
systemd and reports READY=1 to NOTIFY_SOCKET.
)";

// Room for a few records and the notice that reports what was dropped.
constexpr std::size_t MIN_QUEUE_LIMIT = 1024;

struct COptions {
    std::string m_strReplay;
    std::string m_strSource = "auto";
    bool m_bFast = false;
    std::size_t m_nQueueLimit = CAttachmentTable::DEFAULT_QUEUE_LIMIT;
};

bool ParseNumber(const char* psz, std::size_t& nValue) {
    const char* pszEnd = psz + std::strlen(psz);
    const auto result = std::from_chars(psz, pszEnd, nValue);
    return result.ec == std::errc() && result.ptr == pszEnd && pszEnd != psz;
}

int Fail(const std::string& strMessage, int nStatus = 1) {
    std::cerr << "vantry.sys: " << strMessage << "\n";
    return nStatus;
}

// Tells whoever started us that the device is ready.
bool ReportReady(std::string& strError) {
    const char* pszFd = std::getenv("VANTRY_READY_FD");
    if (pszFd == nullptr)
        return true;
    std::size_t nFd = 0;
    if (!ParseNumber(pszFd, nFd) || nFd > 0x7FFFFFFF) {
        strError = std::string("VANTRY_READY_FD is not a file descriptor: ") + pszFd;
        return false;
    }
    const int hFd = int(nFd);
    static const char READY[] = "READY\n";
    const bool bWritten = write(hFd, READY, sizeof READY - 1) == ssize_t(sizeof READY - 1);
    const int nError = errno;
    close(hFd);
    unsetenv("VANTRY_READY_FD");
    if (!bWritten)
        strError =
            std::string("cannot report readiness on VANTRY_READY_FD: ") + std::strerror(nError);
    return bWritten;
}

// The live capture: eBPF where the kernel loads and attaches its programs
// (auto, the default, or ebpf, which then insists on it), ptrace otherwise.
// strCapture: which one runs, as the device tells its clients.
std::unique_ptr<IEventSource> StartLiveSource(const std::string& strSource, IEventSink& sink,
                                              std::string& strCapture, std::string& strError) {
    std::string strRefused = "this vantry.sys was built without the eBPF source";
#ifdef VANTRY_HAVE_EBPF
    if (strSource != "ptrace") {
        try {
            auto pSource = std::make_unique<CBpfSource>(sink);
            Log("capturing with eBPF (" + pSource->Kind() + " system-call tracepoints)");
            strCapture = "ebpf " + pSource->Kind();
            return pSource;
        } catch (const std::exception& error) {
            strRefused = std::string("the kernel refused the eBPF programs: ") + error.what();
        }
    }
#endif
    if (strSource == "ebpf") {
        strError = strRefused;
        return nullptr;
    }
    try {
        auto pSource = std::make_unique<CTraceSource>(sink);
        Log(strSource == "ptrace" ? "capturing with ptrace"
                                  : "capturing with ptrace: " + strRefused);
        strCapture = "ptrace";
        return pSource;
    } catch (const std::exception& error) {
        strError = std::string("cannot start the capture: ") + error.what();
        return nullptr;
    }
}

} // namespace

int main(int argc, char* argv[]) {
    COptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--help" || strArg == "-h") {
            std::cout << USAGE;
            return 0;
        } else if (strArg == "--replay" && i + 1 < argc) {
            options.m_strReplay = argv[++i];
        } else if (strArg == "--source" && i + 1 < argc) {
            options.m_strSource = argv[++i];
            if (options.m_strSource != "auto" && options.m_strSource != "ebpf" &&
                options.m_strSource != "ptrace")
                return Fail("--source " + options.m_strSource + ": auto, ebpf or ptrace", 2);
        } else if (strArg == "--fast") {
            options.m_bFast = true;
        } else if (strArg == "--queue-limit" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], options.m_nQueueLimit) ||
                options.m_nQueueLimit < MIN_QUEUE_LIMIT)
                return Fail(std::string("--queue-limit ") + argv[i] +
                                ": the limit is a number of bytes, at least " +
                                std::to_string(MIN_QUEUE_LIMIT),
                            2);
        } else {
            std::cerr << "vantry.sys: bad argument '" << strArg << "'\n\n" << USAGE;
            return 2;
        }
    }

    // Blocked before any thread starts, so that only the signalfd sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    CTraceSource::BlockChildSignal();
    signal(SIGPIPE, SIG_IGN);
    // A log at its size limit refuses further lines; that must not end us.
    signal(SIGXFSZ, SIG_IGN);
    // Every connection is a descriptor: use all that the hard limit allows.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    CScopedFd hSignals(signalfd(-1, &signals, SFD_CLOEXEC));
    if (!hSignals.IsValid())
        return Fail(std::string("signalfd: ") + std::strerror(errno));

    CAttachmentTable table(options.m_nQueueLimit);
    CSourceSet sources;
    std::string strCapture = "replay";
    if (!options.m_strReplay.empty()) {
        std::string strError;
        auto pReplay = CReplaySource::Load(options.m_strReplay, options.m_bFast, table, strError);
        if (!pReplay)
            return Fail(strError);
        sources.Add(std::move(pReplay));
    } else {
        std::string strError;
        auto pLive = StartLiveSource(options.m_strSource, table, strCapture, strError);
        if (!pLive)
            return Fail(strError);
        sources.Add(std::move(pLive));
    }

    const char* pszDevice = std::getenv(Vantry::DEVICE_PATH_VARIABLE);
    const std::string strDevice = pszDevice && *pszDevice ? pszDevice : Vantry::DEFAULT_DEVICE_PATH;
    {
        CDeviceServer server(table, sources, strCapture);
        std::string strError;
        const int hPassed = SystemdLink::TakeListeningSocket(strError);
        if (hPassed == -2)
            return Fail(strError);
        if (hPassed >= 0 ? !server.Adopt(hPassed, strError) : !server.Listen(strDevice, strError))
            return Fail(strError);
        if (!ReportReady(strError) || !SystemdLink::NotifyReady(strError))
            return Fail(strError);
        server.Run(hSignals.Get());
    }
    sources.Clear();
    return 0;
}
