// What the kernel ships becomes the ptrace source's records: a call's
// pieces, interleaved with other threads' records, make one payload; a gap
// in a CPU's numbering is said on every watched port, and the call it cut
// goes out with what came of it.
#include "CBpfRecords.h"

#include "VantryProtocol.h"

#include <gtest/gtest.h>

#include <sys/sysmacros.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct CSeen {
    CPortId port;
    std::int8_t nType;
    std::uint32_t dwPid;
    std::string strPayload;
    bool operator==(const CSeen&) const = default;
};

struct CSink : IEventSink {
    std::vector<CSeen> seen;
    void Publish(const CPortId& port, const CPortEvent& event) override {
        seen.push_back({port, event.nType, event.dwProcessId,
                        std::string(event.payload.begin(), event.payload.end())});
    }
};

std::vector<std::uint8_t> Piece(std::uint32_t dwCpu, std::uint32_t dwSeq, std::uint32_t dwTid,
                                std::uint16_t wPiece, bool bLast, const std::string& strData) {
    bpf_record head{};
    head.call = 1000 + dwTid;
    head.seq = dwSeq;
    head.cpu = dwCpu;
    head.tid = head.tgid = dwTid;
    head.port = {0x17, 0x500001}; // device 5:1
    head.len = std::uint32_t(strData.size());
    head.piece = wPiece;
    head.kind = BPF_REC_WRITE;
    head.flags = bLast ? BPF_PIECE_LAST : 0;
    std::vector<std::uint8_t> record(sizeof head + strData.size());
    std::memcpy(record.data(), &head, sizeof head);
    std::memcpy(record.data() + sizeof head, strData.data(), strData.size());
    return record;
}

std::string Notice(std::uint32_t dwCode) {
    std::uint8_t payload[Vantry::NOTICE_PAYLOAD_SIZE] = {};
    Vantry::PutU32(payload, dwCode);
    return std::string(payload, payload + sizeof payload);
}

TEST(BpfRecordsTest, PiecesJoinAndAGapIsSaidOnEveryPort) {
    CSink sink;
    CBpfRecords records(sink);
    const CPortId port{makedev(0, 0x17), makedev(5, 1)}, other{makedev(0, 0x17), makedev(5, 2)};
    records.SetPorts({port, other});
    const auto W = Vantry::CAPTURE_DATA_WRITTEN;
    records.OnRecord(Piece(0, 7, 10, 0, false, "hel"));
    records.OnRecord(Piece(1, 3, 11, 0, true, "x"));
    records.OnRecord(Piece(0, 8, 10, 1, true, "lo"));
    EXPECT_EQ(sink.seen, (std::vector<CSeen>{{port, W, 11, "x"}, {port, W, 10, "hello"}}));

    sink.seen.clear();
    records.OnRecord(Piece(0, 9, 10, 0, false, "ab"));
    records.OnRecord(Piece(0, 11, 12, 0, true, "z")); // CPU 0's record 10 was lost
    const auto N = Vantry::CAPTURE_DRIVER_NOTICE;
    EXPECT_EQ(sink.seen, (std::vector<CSeen>{{port, N, 0, Notice(Vantry::NOTICE_EVENTS_LOST)},
                                             {other, N, 0, Notice(Vantry::NOTICE_EVENTS_LOST)},
                                             {port, W, 10, "ab"},
                                             {port, W, 12, "z"}}));
}

} // namespace
