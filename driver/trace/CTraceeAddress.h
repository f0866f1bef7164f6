// An address in a traced process. It has no dereference operator: the only
// way to its bytes is CTraceeMemory, which copes with the tracee changing or
// unmapping them.
#pragma once

#include <cstdint>

class CTraceeAddress {
public:
    constexpr CTraceeAddress() = default;
    constexpr explicit CTraceeAddress(std::uint64_t qwValue) : m_qwValue(qwValue) {}

    constexpr std::uint64_t Value() const { return m_qwValue; }
    constexpr bool IsNull() const { return m_qwValue == 0; }
    constexpr CTraceeAddress operator+(std::uint64_t qwOffset) const {
        return CTraceeAddress(m_qwValue + qwOffset);
    }

private:
    std::uint64_t m_qwValue = 0;
};
