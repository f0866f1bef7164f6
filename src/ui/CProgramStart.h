// Starts a program from an argument vector, never through a shell, so that a
// link's target is one argument whatever characters it holds. The program is
// nobody's child in this program: it outlives it and needs no reaping.
#pragma once

#include <string>
#include <vector>

struct CProgramOutcome {
    enum EKind {
        STARTED,     // running (or it ran and the wait was not asked for)
        EXEC_FAILED, // nValue: the errno of the exec, or ENOENT when not on PATH
        EXITED,      // nValue: the exit code, 128 + the signal when killed
        FAILED,      // nValue: the errno of fork or pipe in this program
    };
    EKind eKind;
    int nValue;
};

class CProgramStart {
public:
    // Returns once the program has been executed.
    static CProgramOutcome Start(const std::vector<std::string>& vecArgs);
    // Returns once the program has exited or nTimeoutMs have passed, in which
    // case it goes on running and counts as started.
    static CProgramOutcome Run(const std::vector<std::string>& vecArgs, int nTimeoutMs);

private:
    static CProgramOutcome Launch(const std::vector<std::string>& vecArgs, bool bAwaitExit,
                                  int nTimeoutMs);
};
