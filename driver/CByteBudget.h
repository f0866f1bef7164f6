// Bytes that several queues draw from together, within the bound of a wider
// budget when there is one: the attachments of one user share a budget, and
// the users other than root share the one above theirs. Not locked: the
// attachment table's lock guards every budget it holds.
#pragma once

#include <algorithm>
#include <cstddef>

class CByteBudget {
public:
    explicit CByteBudget(std::size_t nLimit, CByteBudget* pWider = nullptr)
        : m_nLimit(nLimit), m_pWider(pWider) {}
    CByteBudget(const CByteBudget&) = delete;
    CByteBudget& operator=(const CByteBudget&) = delete;

    std::size_t Room() const {
        const std::size_t nRoom = m_nLimit - m_nUsed;
        return m_pWider != nullptr ? std::min(nRoom, m_pWider->Room()) : nRoom;
    }
    std::size_t Used() const { return m_nUsed; }
    // The caller checked Room() first.
    void Take(std::size_t nBytes) {
        m_nUsed += nBytes;
        if (m_pWider != nullptr)
            m_pWider->Take(nBytes);
    }
    void Give(std::size_t nBytes) {
        m_nUsed -= nBytes;
        if (m_pWider != nullptr)
            m_pWider->Give(nBytes);
    }

private:
    const std::size_t m_nLimit;
    CByteBudget* const m_pWider;
    std::size_t m_nUsed = 0;
};
