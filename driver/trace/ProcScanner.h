// What /proc says about processes: who holds a port open, a process's
// threads and port fds, and whether someone else traces a thread.
#pragma once

#include "../IEventSource.h"

#include <sys/types.h>

#include <map>
#include <optional>
#include <set>
#include <vector>

namespace ProcScanner {

std::vector<pid_t> ListProcesses();
std::vector<pid_t> ListThreads(pid_t nPid);
// The fds of nPid (a process or one of its threads) that refer to a port in `ports`.
std::map<int, CPortId> PortFds(pid_t nPid, const std::set<CPortId>& ports);
// The node and device behind one fd, when it is a character device.
std::optional<CPortId> CharDeviceOf(pid_t nTid, int nFd);
// The user a process runs as: its uid when its real, effective, saved and
// filesystem uids agree, otherwise root (a set-user-ID program is not its
// caller's to watch). Empty when it is gone.
std::optional<uid_t> OwnerOf(pid_t nPid);
// The TracerPid line of /proc/TID/status (0: not traced, -1: gone).
pid_t TracerOf(pid_t nTid);
// The process is on its way out (exiting, or dead and not yet reaped).
bool IsExiting(pid_t nPid);
// The thread group (process) that a thread belongs to, -1 when gone.
pid_t ThreadGroupOf(pid_t nTid);

} // namespace ProcScanner
