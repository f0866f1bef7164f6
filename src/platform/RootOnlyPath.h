// Whether a file that root is about to run can only have come from root.
// Root runs the driver image that a path names; if another user could write
// that file, or any directory on the way to it, or a symbolic link followed
// on the way, that user could have root run a program of their own.
#pragma once

#include <string>

// 0 when every entry the absolute path passes through, links followed, is
// root's and writable by nobody else: no group or other write permission,
// except on a sticky directory such as /tmp, where other users may add
// entries but cannot replace root's. EPERM when some entry fails that;
// otherwise why the path cannot be followed (ENOENT, ELOOP, EINVAL for a
// relative path).
int CheckRootOnlyPath(const std::string& strPath);
