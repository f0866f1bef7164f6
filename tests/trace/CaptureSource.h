// The live capture suites run once per source of the driver: ptrace, and
// eBPF where the kernel takes its programs (skipped, saying why, where it
// does not).
#pragma once

#include "CDriverProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The test's source as the driver's --source names it.
class CCaptureSource : public testing::WithParamInterface<const char*> {
protected:
    bool IsBpf() const { return std::string(GetParam()) == "ebpf"; }
    std::vector<std::string> Args(std::vector<std::string> args = {}) const {
        args.insert(args.end(), {"--source", GetParam()});
        return args;
    }
};

// Starts the driver with the test's source; an eBPF run on a kernel that
// refuses the programs is skipped with the driver's reason.
#define START_DRIVER(driver, ...)                                                                  \
    do {                                                                                           \
        if (!(driver).Start(Args(__VA_ARGS__))) {                                                  \
            if (IsBpf() && (driver).Stderr().find("refused the eBPF") != std::string::npos)        \
                GTEST_SKIP() << "no eBPF here: " << (driver).Stderr();                             \
            FAIL() << (driver).Stderr();                                                           \
        }                                                                                          \
    } while (false)

#define CAPTURE_SOURCES(suite)                                                                     \
    INSTANTIATE_TEST_SUITE_P(Sources, suite, testing::Values("ptrace", "ebpf"),                    \
                             [](const auto& info) { return std::string(info.param); })
