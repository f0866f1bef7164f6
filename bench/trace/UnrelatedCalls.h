// What the eBPF source costs processes that have nothing to do with the
// port: a getpid loop and 1-byte writes to /dev/null, before and while it
// watches one.
#pragma once

#include "IEventSource.h"

void MeasureUnrelatedCalls(const CPortId& port, int hNode);
