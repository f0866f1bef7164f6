// One fetched event record: a byte block of exactly the size the driver
// reported. It moves from the reader to the formatter without being copied
// and is released by whoever holds it last.
#pragma once

#include "CRecordView.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

class CCaptureRecord {
public:
    CCaptureRecord() = default;
    explicit CCaptureRecord(std::size_t nSize)
        : m_pBytes(new std::uint8_t[nSize]), m_nSize(nSize) {}

    static CCaptureRecord CopyOf(std::span<const std::uint8_t> bytes) {
        CCaptureRecord record(bytes.size());
        if (!bytes.empty())
            std::memcpy(record.Data(), bytes.data(), bytes.size());
        return record;
    }

    std::uint8_t* Data() { return m_pBytes.get(); }
    std::size_t Size() const { return m_nSize; }
    CRecordView View() const { return CRecordView({m_pBytes.get(), m_nSize}); }

private:
    std::unique_ptr<std::uint8_t[]> m_pBytes;
    std::size_t m_nSize = 0;
};
