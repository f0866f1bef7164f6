// An attachment handle as the driver hands it out: never 0, valid on every
// connection of the user who attached and on no other user's.
#pragma once

#include <cstdint>

class CAttachHandle {
public:
    CAttachHandle() = default;
    explicit CAttachHandle(std::uint32_t dwValue) : m_dwValue(dwValue) {}

    std::uint32_t Value() const { return m_dwValue; }
    bool IsValid() const { return m_dwValue != 0; }
    friend bool operator==(CAttachHandle, CAttachHandle) = default;

private:
    std::uint32_t m_dwValue = 0;
};
