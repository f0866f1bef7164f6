// A read-only look at one event record that never reads past its size: every
// accessor is checked against the bytes the record really has.
#pragma once

#include "VantryProtocol.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

class CRecordView {
public:
    explicit CRecordView(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::size_t Size() const { return m_bytes.size(); }
    std::span<const std::uint8_t> Bytes() const { return m_bytes; }

    // Empty when the record is too short to say which event it is.
    std::optional<std::int8_t> EventType() const;
    // True when the record holds everything its type needs, payload included.
    bool IsComplete() const;

    // These assume IsComplete() and a record of the matching type.
    std::uint32_t DataLength() const;
    std::span<const std::uint8_t> Payload() const;
    std::int32_t BaudRate() const;
    std::uint8_t StopBits() const { return m_bytes[Vantry::RECORD_DATA_OFFSET]; }
    std::uint8_t Parity() const { return m_bytes[Vantry::RECORD_DATA_OFFSET + 1]; }
    std::uint8_t WordLength() const { return m_bytes[Vantry::RECORD_DATA_OFFSET + 2]; }

    // The driver's bookkeeping in `Reserved`; empty for a record shorter than it.
    struct Stamp {
        std::uint64_t qwTimeNs;
        std::uint32_t dwSequence;
        std::uint32_t dwProcessId;
    };
    std::optional<Stamp> GetStamp() const;

private:
    std::span<const std::uint8_t> m_bytes;
};
