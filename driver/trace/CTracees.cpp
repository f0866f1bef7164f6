#include "CTracees.h"

#include "DriverLog.h"
#include "ProcScanner.h"

#include <sched.h>
#include <sys/ptrace.h>

#include <cerrno>
#include <string>
#include <vector>

CTracees::CTracees(const CWatchedPorts& ports, CVisibility& visibility)
    : m_ports(ports), m_visibility(visibility) {}

void CTracees::KeepTracing(pid_t nPid) {
    for (auto& [nTid, tracee] : m_tracees) {
        if (tracee.nTgid == nPid && tracee.bDetach &&
            m_visibility.MayTrace(tracee.uidOwner, tracee.pFds->Ports())) {
            tracee.bDetach = false;
            --m_nDetaching;
        }
    }
}

void CTracees::DetachUnseen() {
    for (auto& [nTid, tracee] : m_tracees) {
        if (!m_visibility.MayTrace(tracee.uidOwner, tracee.pFds->Ports()))
            RequestDetach(tracee);
    }
}

void CTracees::ForgetPort(const CPortId& port) {
    for (auto& [nTid, tracee] : m_tracees)
        tracee.pFds->ForgetPort(port);
}

void CTracees::DetachEarlyChildren() {
    for (const pid_t nTid : m_earlyChildren)
        Request(PTRACE_DETACH, nTid);
    m_earlyChildren.clear();
}

void CTracees::Request(int nRequest, pid_t nTid, int nSignal) {
    // A thread killed meanwhile (ESRCH) is reported by waitpid: not a fault.
    if (ptrace(__ptrace_request(nRequest), nTid, nullptr,
               reinterpret_cast<void*>(std::intptr_t(nSignal))) != 0 &&
        errno != ESRCH)
        Log("ptrace request " + std::to_string(nRequest) + " on " + std::to_string(nTid), errno);
}

void CTracees::RequestDetach(CTracee& tracee) {
    if (!tracee.bDetach) {
        tracee.bDetach = true;
        ++m_nDetaching;
    }
    // The thread being handled is let go when it is resumed; the others are
    // made to stop. A thread already stopped keeps that stop and the extra
    // trap is dropped by the detach.
    if (tracee.nTid != m_nCurrent)
        Request(PTRACE_INTERRUPT, tracee.nTid);
}

void CTracees::Forget(pid_t nTid) {
    const auto it = m_tracees.find(nTid);
    if (it == m_tracees.end())
        return;
    if (it->second.bDetach)
        --m_nDetaching;
    if (it->second.bInSyscall && it->second.eSyscall == ESyscall::Open)
        --m_nInOpen;
    m_tracees.erase(it);
}

void CTracees::Resume(CTracee& tracee, int nSignal, bool bListen) {
    const pid_t nTid = tracee.nTid;
    // A release still pending is looked for at the next stop first.
    if (tracee.bDetach && !tracee.bReleasePending) {
        Request(PTRACE_DETACH, nTid, nSignal);
        Forget(nTid);
        return;
    }
    Request(bListen ? PTRACE_LISTEN : PTRACE_SYSCALL, nTid, bListen ? 0 : nSignal);
}

void CTracees::OnClone(CTracee& parent, int nEvent) {
    unsigned long ulChild = 0;
    if (ptrace(PTRACE_GETEVENTMSG, parent.nTid, 0, &ulChild) != 0 || ulChild == 0)
        return;
    const pid_t nChild = pid_t(ulChild);
    std::uint64_t qwFlags = parent.qwCloneFlags;
    if (parent.eSyscall != ESyscall::Clone)
        qwFlags = nEvent == PTRACE_EVENT_CLONE ? (CLONE_THREAD | CLONE_FILES) : 0;

    CTracee& child = m_tracees[nChild];
    child.nTid = nChild;
    child.nTgid = (qwFlags & CLONE_THREAD) ? parent.nTgid : nChild;
    child.uidOwner = parent.uidOwner;
    child.pFds = (qwFlags & CLONE_FILES) ? parent.pFds : std::make_shared<CFdTable>(*parent.pFds);
    // The child starts in the middle of fork: its first exit stop is not ours.
    child.bInSyscall = false;
    if (child.pFds->IsEmpty() || parent.bDetach)
        RequestDetach(child);
    if (m_earlyChildren.erase(nChild))
        Resume(child, 0);
}

CTracee& CTracees::OnExec(CTracee& tracee) {
    const pid_t nTgid = tracee.nTgid;
    unsigned long ulFormer = 0;
    if (ptrace(PTRACE_GETEVENTMSG, tracee.nTid, 0, &ulFormer) != 0)
        Log("PTRACE_GETEVENTMSG on " + std::to_string(tracee.nTid), errno);
    const pid_t nFormer = pid_t(ulFormer);
    if (nFormer != 0 && nFormer != tracee.nTid) {
        // A non-leader thread ran execve and has taken the leader's pid; the
        // old leader is gone without a death report.
        auto node = m_tracees.extract(nFormer);
        if (!node.empty()) {
            Forget(tracee.nTid);
            node.key() = nTgid;
            node.mapped().nTid = nTgid;
            m_tracees.insert(std::move(node));
        }
    }
    CTracee& leader = m_tracees[nTgid];
    leader.nTid = nTgid;
    // Every other thread of the process died in the exec.
    std::vector<pid_t> others;
    for (const auto& [nTid, other] : m_tracees) {
        if (other.nTgid == nTgid && nTid != nTgid)
            others.push_back(nTid);
    }
    for (const pid_t nTid : others)
        Forget(nTid);

    // exec unshares the fd table and closes the close-on-exec fds: ask the
    // kernel what is left rather than replaying the flags.
    leader.pFds = std::make_shared<CFdTable>();
    for (const auto& [nFd, port] : ProcScanner::PortFds(nTgid, m_ports.WatchedPorts()))
        leader.pFds->Set(nFd, port);
    // The close-on-exec fds are released after the execve exit stop.
    leader.bReleasePending = true;
    // A set-user-ID program may now run as someone no viewer may see.
    leader.uidOwner = ProcScanner::OwnerOf(nTgid).value_or(0);
    if (leader.pFds->IsEmpty() || !m_visibility.MayTrace(leader.uidOwner, leader.pFds->Ports())) {
        if (const auto identity = CProcessIdentity::Of(nTgid); identity && !leader.pFds->IsEmpty())
            m_visibility.NameUnseen(*identity, leader.pFds->Ports());
        RequestDetach(leader);
    }
    return leader;
}
