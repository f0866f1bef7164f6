// The event sources the driver runs (a replay, the live capture), told
// together which attachments there are. Called on the driver's thread only,
// and never under the attachment table's lock, so a source may publish from
// inside these calls.
#pragma once

#include "IEventSource.h"

#include <memory>
#include <mutex>
#include <vector>

class CSourceSet {
public:
    void Add(std::unique_ptr<IEventSource> pSource) { m_sources.push_back(std::move(pSource)); }
    // Stops every source (their destructors join their threads).
    void Clear() { m_sources.clear(); }

    // `done` gets 0 once every source watches the port, or the first errno
    // value; either way, UnwatchPort follows for the handle.
    void WatchPort(const CPortId& port, int hNode, uid_t viewer, std::uint32_t dwHandle,
                   std::function<void(int)> done) {
        struct CJoin {
            std::mutex mutex;
            std::size_t nLeft;
            int nError = 0;
            std::function<void(int)> done;
        };
        auto pJoin = std::make_shared<CJoin>();
        pJoin->nLeft = m_sources.size();
        pJoin->done = std::move(done);
        if (m_sources.empty())
            return pJoin->done(0);
        for (const auto& pSource : m_sources)
            pSource->WatchPort(port, hNode, viewer, dwHandle, [pJoin](int nError) {
                std::unique_lock lock(pJoin->mutex);
                pJoin->nError = pJoin->nError != 0 ? pJoin->nError : nError;
                if (--pJoin->nLeft == 0) {
                    lock.unlock();
                    pJoin->done(pJoin->nError);
                }
            });
    }
    void UnwatchPort(std::uint32_t dwHandle) {
        for (const auto& pSource : m_sources)
            pSource->UnwatchPort(dwHandle);
    }

private:
    std::vector<std::unique_ptr<IEventSource>> m_sources;
};
