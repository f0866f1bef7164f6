// Runs a piece of a test as another user: a forked child that drops to uid
// (with exactly the given groups) and reports back through its exit status.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

inline constexpr uid_t NOBODY = 65534;

inline int RunAs(uid_t uid, const std::vector<gid_t>& groups, const std::function<int()>& body) {
    const pid_t nPid = fork();
    if (nPid == 0) {
        if (setgroups(groups.size(), groups.data()) != 0 || setgid(uid) != 0 || setuid(uid) != 0)
            _exit(255);
        int nResult = 254;
        try {
            nResult = body();
        } catch (...) {
        }
        _exit(nResult);
    }
    int nStatus = 0;
    waitpid(nPid, &nStatus, 0);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}
