// The attach checks under way. Each resolves its path on a detached thread
// of its own, so a lookup that hangs in a file system that never answers (a
// FUSE mount, a hard NFS mount whose server is gone) holds up its own
// attach and nothing else: the driver's thread never waits for a check, and
// gives up on one after TIME_LIMIT. A check given up on runs on until the
// kernel lets go (or the driver exits, which ends it) and still counts
// against its user meanwhile, so nobody can pile up stuck threads.
#pragma once

#include "CPeer.h"
#include "CScopedFd.h"
#include "IEventSource.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CPortChecks {
public:
    static constexpr std::size_t MAX_CHECKS_PER_USER = 8;
    // Of all users but root, which the program is and which is never
    // crowded out.
    static constexpr std::size_t MAX_CHECKS = 64;
    static constexpr std::chrono::milliseconds TIME_LIMIT{3000};

    // What the checking thread found: under the checks' lock.
    struct CResult {
        bool m_bDone = false;
        int m_nError = 0;
        CPortId m_port;
        CScopedFd m_node;
    };
    // A check the client waits for; the driver's thread's alone.
    struct CCheck {
        std::string m_strPath;
        std::chrono::steady_clock::time_point m_deadline;
        std::shared_ptr<CResult> m_pResult; // shared with the checking thread
    };

    CPortChecks();
    CPortChecks(const CPortChecks&) = delete;
    CPortChecks& operator=(const CPortChecks&) = delete;

    // Readable once a check finished.
    int WakeFd() const { return m_pShared->m_hWake.Get(); }
    void ClearWake();
    // 0 and the check started; EAGAIN when the user (or everybody) has as
    // many under way as allowed, or no thread can be had.
    int Start(const std::string& strPath, const CPeer& peer, std::shared_ptr<CCheck>& pCheck);
    // False while the check runs within its time. Then its result: 0 and
    // the port and node, or the errno value; ETIMEDOUT when given up on.
    bool Finished(const CCheck& check, int& nError, CPortId& port, CScopedFd& node);
    // Milliseconds until the next check is to be given up on, -1 for none.
    int PollTimeout();

private:
    struct CShared {
        std::mutex m_mutex;
        CScopedFd m_hWake;
        std::map<uid_t, std::size_t> m_running;
        std::size_t m_nRunning = 0; // root's not counted
    };
    static void Run(const std::shared_ptr<CShared>& pShared, const std::string& strPath,
                    const CPeer& peer, const std::shared_ptr<CResult>& pResult);
    static void Release(CShared& shared, uid_t uid);

    std::shared_ptr<CShared> m_pShared;
    // Expire when the client had its answer or went away.
    std::vector<std::weak_ptr<CCheck>> m_waiting;
};
