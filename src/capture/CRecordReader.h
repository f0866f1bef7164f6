// What a monitor's reader thread reads from: one attachment's records, one
// at a time, fetched from the driver a batch at a time on a connection of
// the reader's own, so that a flood of small records costs one round trip
// per batch instead of two per record. A driver without the batched fetch
// is read a record at a time. Records already fetched are handed out before
// the stop event is looked at: the driver no longer holds them.
#pragma once

#include "CVantryConnection.h"
#include "CVantryDevice.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CRecordReader {
public:
    CRecordReader(CVantryDevice& device, CAttachHandle hAttach)
        : m_device(device), m_hAttach(hAttach) {}

    // The next record; the errors of CVantryDevice::ReadRecord, and EPROTO
    // for a batch that is not whole records.
    int Next(const CStopEvent& stop, CCaptureRecord& record);

private:
    CVantryDevice& m_device;
    const CAttachHandle m_hAttach;
    CVantryConnection m_connection;
    std::vector<std::uint8_t> m_batch;
    std::size_t m_nBatchSize = 0;
    std::size_t m_nOffset = 0;
    bool m_bOneByOne = false; // the driver has no batched fetch
};
