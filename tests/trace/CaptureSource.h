// The live capture suites run once per source of the driver: ptrace, and
// eBPF where the kernel takes its programs (skipped, saying why, where it
// does not).
#pragma once

#include "CDriverProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Why the kernel refuses the eBPF source, empty when it takes it (an eBPF
// run is skipped with it); asked of a driver once per test program.
inline const std::string& BpfRefusal() {
    static const std::string strRefusal = [] {
        CDriverProcess probe;
        return probe.Start({"--source", "ebpf"}) ? std::string() : probe.Stderr();
    }();
    return strRefusal;
}

// The test's source as the driver's --source names it.
class CCaptureSource : public testing::WithParamInterface<const char*> {
protected:
    bool IsBpf() const { return std::string(GetParam()) == "ebpf"; }
    std::vector<std::string> Args(std::vector<std::string> args = {}) const {
        args.insert(args.end(), {"--source", GetParam()});
        return args;
    }
};

#define CAPTURE_SOURCES(suite)                                                                     \
    INSTANTIATE_TEST_SUITE_P(Sources, suite, testing::Values("ptrace", "ebpf"),                    \
                             [](const auto& info) { return std::string(info.param); })
