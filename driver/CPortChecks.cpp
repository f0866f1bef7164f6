#include "CPortChecks.h"

#include "PortAccess.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

CPortChecks::CPortChecks() : m_pShared(std::make_shared<CShared>()) {
    m_pShared->m_hWake.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void CPortChecks::ClearWake() {
    std::uint64_t qwCount = 0;
    [[maybe_unused]] const auto nRead = read(WakeFd(), &qwCount, sizeof qwCount);
}

int CPortChecks::Start(const std::string& strPath, const CPeer& peer,
                       std::shared_ptr<CCheck>& pCheck) {
    CShared& shared = *m_pShared;
    {
        std::lock_guard lock(shared.m_mutex);
        const auto it = shared.m_running.find(peer.m_uid);
        if ((it != shared.m_running.end() && it->second >= MAX_CHECKS_PER_USER) ||
            (peer.m_uid != 0 && shared.m_nRunning >= MAX_CHECKS))
            return EAGAIN;
        ++shared.m_running[peer.m_uid];
        shared.m_nRunning += peer.m_uid != 0;
    }
    pCheck = std::make_shared<CCheck>();
    pCheck->m_strPath = strPath;
    pCheck->m_deadline = std::chrono::steady_clock::now() + TIME_LIMIT;
    pCheck->m_pResult = std::make_shared<CResult>();
    try {
        // The thread keeps the shared part (the wake descriptor above all)
        // alive for as long as it runs, the driver's teardown included.
        std::thread(&CPortChecks::Run, m_pShared, strPath, peer, pCheck->m_pResult).detach();
    } catch (const std::system_error&) {
        std::lock_guard lock(shared.m_mutex);
        Release(shared, peer.m_uid);
        pCheck.reset();
        return EAGAIN;
    }
    std::erase_if(m_waiting, [](const auto& pWaiting) { return pWaiting.expired(); });
    m_waiting.push_back(pCheck);
    return 0;
}

void CPortChecks::Release(CShared& shared, uid_t uid) {
    if (--shared.m_running[uid] == 0)
        shared.m_running.erase(uid);
    shared.m_nRunning -= uid != 0;
}

void CPortChecks::Run(const std::shared_ptr<CShared>& pShared, const std::string& strPath,
                      const CPeer& peer, const std::shared_ptr<CResult>& pResult) {
    CPortId port;
    CScopedFd node;
    const int nError = PortAccess::CheckAsPeer(strPath, peer, port, node);
    std::lock_guard lock(pShared->m_mutex);
    Release(*pShared, peer.m_uid);
    pResult->m_bDone = true;
    pResult->m_nError = nError;
    pResult->m_port = port;
    pResult->m_node = std::move(node);
    const std::uint64_t qwOne = 1;
    [[maybe_unused]] const auto nWritten = write(pShared->m_hWake.Get(), &qwOne, sizeof qwOne);
}

bool CPortChecks::Finished(const CCheck& check, int& nError, CPortId& port, CScopedFd& node) {
    std::lock_guard lock(m_pShared->m_mutex);
    CResult& result = *check.m_pResult;
    if (!result.m_bDone) {
        if (std::chrono::steady_clock::now() < check.m_deadline)
            return false;
        nError = ETIMEDOUT;
        return true;
    }
    nError = result.m_nError;
    port = result.m_port;
    node = std::move(result.m_node);
    return true;
}

int CPortChecks::PollTimeout() {
    std::erase_if(m_waiting, [](const auto& pWaiting) { return pWaiting.expired(); });
    if (m_waiting.empty())
        return -1;
    auto deadline = std::chrono::steady_clock::time_point::max();
    for (const auto& pWaiting : m_waiting)
        if (const auto pCheck = pWaiting.lock())
            deadline = std::min(deadline, pCheck->m_deadline);
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, TIME_LIMIT.count()));
}
