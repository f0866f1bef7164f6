#include "IMonitorHost.h"

namespace {
IMonitorHost* s_pHost = nullptr;
} // namespace

IMonitorHost* AfxGetMonitorHost() {
    return s_pHost;
}

void AfxSetMonitorHost(IMonitorHost* pHost) {
    s_pHost = pHost;
}
