// The event sources the driver runs (a replay, the live capture), told
// together which ports and attachments there are. Called on the driver's
// thread only, and never under the attachment table's lock, so a source may
// publish from inside these calls.
#pragma once

#include "IEventSource.h"

#include <memory>
#include <vector>

class CSourceSet {
public:
    void Add(std::unique_ptr<IEventSource> pSource) { m_sources.push_back(std::move(pSource)); }
    // Stops every source (their destructors join their threads).
    void Clear() { m_sources.clear(); }

    // Every source watches the port, or none does: 0 or the first errno value.
    int WatchPort(const CPortId& port, int hNode, uid_t viewer) {
        for (std::size_t i = 0; i < m_sources.size(); ++i) {
            if (const int nError = m_sources[i]->WatchPort(port, hNode, viewer)) {
                while (i-- > 0)
                    m_sources[i]->UnwatchPort(port, viewer);
                return nError;
            }
        }
        return 0;
    }
    void UnwatchPort(const CPortId& port, uid_t viewer) {
        for (const auto& pSource : m_sources)
            pSource->UnwatchPort(port, viewer);
    }
    void AttachmentAdded(const CPortId& port, std::uint32_t dwHandle) {
        for (const auto& pSource : m_sources)
            pSource->AttachmentAdded(port, dwHandle);
    }
    void AttachmentRemoved(std::uint32_t dwHandle) {
        for (const auto& pSource : m_sources)
            pSource->AttachmentRemoved(dwHandle);
    }

private:
    std::vector<std::unique_ptr<IEventSource>> m_sources;
};
