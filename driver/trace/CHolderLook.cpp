#include "CHolderLook.h"

#include "MonotonicClock.h"

#include <algorithm>

namespace {

// A whole look reads every process's fds in /proc (some 50 ms of CPU for
// 500 processes of 20 fds): every two seconds it costs a few percent of
// one CPU, and bounds how much of a holder's traffic can go unseen.
constexpr std::uint64_t SLOW_NS = 2'000'000'000;
// After a pass, its receiver usually takes the fd at once: looked for a
// few times in quick succession, counted from the end of each look.
constexpr std::uint64_t EAGER_NS = 10'000'000;
constexpr int EAGER_LOOKS = 6;

} // namespace

CHolderLook::CHolderLook(CWatchedPorts& ports, CSeizer& seizer)
    : m_ports(ports), m_seizer(seizer) {}

void CHolderLook::Looked(const CPortId& port, std::uint64_t qwNowNs) {
    m_lookedNs[port] = qwNowNs;
}

void CHolderLook::OnFdPassed() {
    // The first look at once: the receiver may already hold it.
    if (m_nEagerLooks == 0)
        m_qwLastLookNs = 0;
    m_nEagerLooks = EAGER_LOOKS;
}

std::uint64_t CHolderLook::DueNs() const {
    return m_qwLastLookNs + (m_nEagerLooks > 0 ? EAGER_NS : SLOW_NS);
}

int CHolderLook::TimeoutMs(std::uint64_t qwNowNs) const {
    if (m_ports.IsEmpty())
        return -1;
    const std::uint64_t qwDue = DueNs();
    return qwDue <= qwNowNs ? 0 : int((qwDue - qwNowNs + 999'999) / 1'000'000);
}

void CHolderLook::LookIfDue(std::uint64_t qwNowNs) {
    if (m_ports.IsEmpty()) {
        m_lookedNs.clear();
        return;
    }
    if (qwNowNs < DueNs())
        return;
    if (m_nEagerLooks > 0)
        --m_nEagerLooks;
    std::erase_if(m_lookedNs, [&](const auto& entry) { return !m_ports.IsWatched(entry.first); });
    for (const CPortId& port : m_ports.WatchedPorts()) {
        // A holder found now took its fd after the port's last look: that
        // long ago at most.
        const auto it = m_lookedNs.find(port);
        const std::uint64_t qwSince = it == m_lookedNs.end() ? 0 : qwNowNs - it->second;
        m_lookedNs[port] = qwNowNs;
        m_seizer.TraceHolders(port,
                              std::uint32_t(std::min<std::uint64_t>(qwSince / 1000, UINT32_MAX)));
    }
    m_qwLastLookNs = MonotonicNs();
}
