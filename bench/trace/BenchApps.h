// The applications the tracing benchmarks watch. Each runs in a child
// process of its own, on the slave of a pty, and reports its measurements
// through a pipe (the tracer may reap a traced child before its parent can
// wait for it, so exit statuses are not relied on).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct CWriterResult {
    std::uint64_t qwElapsedNs = 0;     // first write to last
    std::uint64_t qwMedianWriteNs = 0; // one write() system call
    std::uint64_t qwWrites = 0;
};

// Writes nTotal bytes in nChunk-byte writes, after waiting until it is
// traced when bWaitTraced.
CWriterResult RunWriter(const std::string& strPort, std::size_t nChunk, std::size_t nTotal,
                        bool bWaitTraced);

// Notes the time, opens the port, sets 9600 8N1, writes 32 bytes at once and
// then every 10 ms (nWrites in all), each tagged with its index; returns the
// CLOCK_REALTIME time just before the open.
std::uint64_t RunLateOpener(const std::string& strPort, int nWrites);

// The 32 bytes of write number nIndex.
std::string LateOpenerChunk(int nIndex);

// Puts the port into raw mode at 9600 8N1 (the C library's tcsetattr).
void SetRaw9600(int hPort);
