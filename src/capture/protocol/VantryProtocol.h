// The contract between the capture driver and the program: the device's
// request codes, the wire framing of requests and answers, and the event
// record with its type codes. Plain C++ so that the driver can share it
// without depending on anything else of the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Vantry {

// Device type 0x1001, functions 0x801 to 0x806, buffered, any access.
inline constexpr std::uint32_t IOCTL_VANTRY_ATTACH = 0x10012004;
inline constexpr std::uint32_t IOCTL_VANTRY_DETACH = 0x10012008;
inline constexpr std::uint32_t IOCTL_VANTRY_WAIT_RECORD = 0x1001200C;
inline constexpr std::uint32_t IOCTL_VANTRY_FETCH_RECORD = 0x10012010;
// Wait and fetch in one: as many whole records as fit, each preceded by its
// u32 size as in a record file. A driver older than it answers ENOTTY.
inline constexpr std::uint32_t IOCTL_VANTRY_FETCH_RECORDS = 0x10012014;
// How the driver captures, as short ASCII text without a NUL: "ebpf tp_btf",
// "ebpf raw_tp", "ptrace" or "replay". No input; any client may ask. A
// driver older than it answers ENOTTY.
inline constexpr std::uint32_t IOCTL_VANTRY_CAPTURE_SOURCE = 0x10012018;
// The capacity that always holds that text.
inline constexpr std::size_t MAX_CAPTURE_SOURCE_SIZE = 64;

inline constexpr const char* DEFAULT_DEVICE_PATH = "/run/Vantry";
inline constexpr const char* DEVICE_PATH_VARIABLE = "VANTRY_DEVICE";

// A request is `code`, `capacity`, input; an answer is `status`, output.
inline constexpr std::size_t REQUEST_HEADER_SIZE = 8;
inline constexpr std::size_t ANSWER_HEADER_SIZE = 4;

enum CAPTURE_EVENT_TYPE : std::int8_t {
    CAPTURE_PORT_OPENED = 0,
    CAPTURE_DATA_READ = 1,
    CAPTURE_DATA_WRITTEN = 2,
    CAPTURE_PORT_CLOSED = 3,
    CAPTURE_DRIVER_NOTICE = 4, // the driver's own notices; the program shows nothing
    CAPTURE_BAUD_RATE = 5,
    CAPTURE_LINE_CONTROL = 6,
    // Beyond the panes' events: the panes show nothing of these.
    CAPTURE_PROCESS = 7,       // names the process of the records that follow
    CAPTURE_MODEM_LINES = 8,   // the modem lines were set, raised or lowered
    CAPTURE_PORT_CONTROL = 9,  // break, drain, flush, or output/input stopped
    CAPTURE_FLOW_CONTROL = 10, // flow control or VMIN/VTIME changed with the settings
    CAPTURE_CALL_FAILED = 11,  // a settings or control call failed and changed nothing
};

// The fixed head of every record; the payload follows at `Data`. Buffers are
// never cast to this struct (they carry no alignment guarantee); the offsets
// below are what readers and writers use.
struct CAPTURE_RECORD {
    std::uint8_t Reserved[16];
    std::uint32_t DataLength;
    std::int8_t EventType;
    std::uint8_t Alignment[3];
};
static_assert(sizeof(CAPTURE_RECORD) == 24);

inline constexpr std::size_t RECORD_TIME_OFFSET = 0;
inline constexpr std::size_t RECORD_SEQUENCE_OFFSET = 8;
inline constexpr std::size_t RECORD_PID_OFFSET = 12;
inline constexpr std::size_t RECORD_DATA_LENGTH_OFFSET = offsetof(CAPTURE_RECORD, DataLength);
inline constexpr std::size_t RECORD_EVENT_TYPE_OFFSET = offsetof(CAPTURE_RECORD, EventType);
inline constexpr std::size_t RECORD_DATA_OFFSET = sizeof(CAPTURE_RECORD);

// The driver splits longer payloads into several data records, so no record
// is ever larger than MAX_RECORD_SIZE.
inline constexpr std::size_t MAX_RECORD_PAYLOAD = 64 * 1024;
inline constexpr std::size_t MAX_RECORD_SIZE = RECORD_DATA_OFFSET + MAX_RECORD_PAYLOAD;
// The most one batched fetch answers, whatever capacity it asks for: one
// socket message must fit the driver's send buffer.
inline constexpr std::size_t MAX_BATCH_SIZE = 256 * 1024;
static_assert(3 * (4 + MAX_RECORD_SIZE) <= MAX_BATCH_SIZE);

// A CAPTURE_DRIVER_NOTICE payload: a 32-bit notice code and a 32-bit value.
inline constexpr std::uint32_t NOTICE_RECORDS_DROPPED = 1; // value: records lost to a full queue
// value: the pid of a process that holds the port but is traced by another
// program (a debugger), so its traffic cannot be captured
inline constexpr std::uint32_t NOTICE_PROCESS_NOT_TRACED = 2;
// value: bytes of a read or write that could not be copied out of the
// process (it unmapped or changed its buffer during the call)
inline constexpr std::uint32_t NOTICE_BYTES_UNREADABLE = 3;
// value: 0; opens and closes of the port, or who opened it, may have been
// missed (the kernel's inotify or fanotify queue overflowed)
inline constexpr std::uint32_t NOTICE_EVENTS_LOST = 4;
// value: the pid of a process of another user that holds the port; an
// attachment of a user other than root never sees such a process's traffic
inline constexpr std::uint32_t NOTICE_PROCESS_OF_OTHER_USER = 5;
// value: bytes of one read or write that did not fit in the queue and were
// not captured (the record before it holds the part that did)
inline constexpr std::uint32_t NOTICE_BYTES_NOT_CAPTURED = 6;
// value: a CALL_* code below; the process moved data through the port (or
// changed its settings) with a call that the driver cannot decode
inline constexpr std::uint32_t NOTICE_CALL_NOT_DECODED = 7;
// value: microseconds from the process's open of the port until it was
// traced; what it did on the port before is missing. The process's command
// name (up to 15 bytes) follows the value.
inline constexpr std::uint32_t NOTICE_TRACED_LATE = 8;
// value: 0; a process (the record's pid, 0 when it could not be named)
// used the port and was gone before it could be traced. Its command name,
// when known, follows the value.
inline constexpr std::uint32_t NOTICE_USED_UNTRACED = 9;
inline constexpr std::size_t NOTICE_PAYLOAD_SIZE = 8;

// The calls of NOTICE_CALL_NOT_DECODED.
inline constexpr std::uint32_t CALL_SENDFILE = 1;
inline constexpr std::uint32_t CALL_SPLICE = 2; // splice, tee, vmsplice
inline constexpr std::uint32_t CALL_COPY_FILE_RANGE = 3;
inline constexpr std::uint32_t CALL_32_BIT = 4; // any 32-bit system call
inline constexpr std::uint32_t CALL_IO_URING = 5;
inline constexpr std::uint32_t CALL_IO_SUBMIT = 6; // Linux native AIO

// A CAPTURE_PROCESS payload, sent before the first record of a process on a
// port that an attachment gets: its pid, its real uid, its command name
// (NUL-padded), then the path of its executable (to the end, no NUL; empty
// when it could not be read).
inline constexpr std::size_t PROCESS_COMMAND_SIZE = 16;
inline constexpr std::size_t PROCESS_PATH_OFFSET = 8 + PROCESS_COMMAND_SIZE;

// A CAPTURE_MODEM_LINES payload: a 32-bit MODEM_* call, then the 32-bit
// LINE_* bits it named.
inline constexpr std::uint32_t MODEM_SET = 1;   // TIOCMSET: these lines on, the rest off
inline constexpr std::uint32_t MODEM_RAISE = 2; // TIOCMBIS: these lines on
inline constexpr std::uint32_t MODEM_LOWER = 3; // TIOCMBIC: these lines off
// The lines, in the kernel's TIOCM_* bits.
inline constexpr std::uint32_t LINE_LE = 0x001;
inline constexpr std::uint32_t LINE_DTR = 0x002;
inline constexpr std::uint32_t LINE_RTS = 0x004;
inline constexpr std::uint32_t LINE_ST = 0x008;
inline constexpr std::uint32_t LINE_SR = 0x010;
inline constexpr std::uint32_t LINE_CTS = 0x020;
inline constexpr std::uint32_t LINE_CD = 0x040;
inline constexpr std::uint32_t LINE_RI = 0x080;
inline constexpr std::uint32_t LINE_DSR = 0x100;
inline constexpr std::uint32_t LINE_OUT1 = 0x2000;
inline constexpr std::uint32_t LINE_OUT2 = 0x4000;
inline constexpr std::uint32_t LINE_LOOP = 0x8000;

// A CAPTURE_PORT_CONTROL payload: a 32-bit CONTROL_* code and a 32-bit value.
inline constexpr std::uint32_t CONTROL_BREAK = 1;     // value: its length in ms (TCSBRK 0, TCSBRKP)
inline constexpr std::uint32_t CONTROL_BREAK_ON = 2;  // TIOCSBRK
inline constexpr std::uint32_t CONTROL_BREAK_OFF = 3; // TIOCCBRK
inline constexpr std::uint32_t CONTROL_DRAIN = 4;     // tcdrain (TCSBRK with a non-zero argument)
inline constexpr std::uint32_t CONTROL_FLUSH = 5;     // value: TCIFLUSH 0, TCOFLUSH 1, TCIOFLUSH 2
inline constexpr std::uint32_t CONTROL_FLOW = 6;      // value: TCOOFF 0, TCOON 1, TCIOFF 2, TCION 3

// A CAPTURE_FLOW_CONTROL payload: FLOW_* bits, VMIN, VTIME (one byte each).
inline constexpr std::uint8_t FLOW_RTS_CTS = 1; // CRTSCTS
inline constexpr std::uint8_t FLOW_XON_OUT = 2; // IXON
inline constexpr std::uint8_t FLOW_XON_IN = 4;  // IXOFF

// A CAPTURE_CALL_FAILED payload: the 32-bit ioctl request and the errno
// value the kernel answered.

// Line-control payload: stop-bits code, parity code, word length in bits.
inline constexpr std::uint8_t STOP_BITS_1 = 0;
inline constexpr std::uint8_t STOP_BITS_1_5 = 1;
inline constexpr std::uint8_t STOP_BITS_2 = 2;
inline constexpr std::uint8_t PARITY_NONE = 0;
inline constexpr std::uint8_t PARITY_ODD = 1;
inline constexpr std::uint8_t PARITY_EVEN = 2;
inline constexpr std::uint8_t PARITY_MARK = 3;
inline constexpr std::uint8_t PARITY_SPACE = 4;

inline constexpr std::string_view StopBitsText(std::uint8_t byCode) {
    switch (byCode) {
    case STOP_BITS_1:
        return "1 stop bit";
    case STOP_BITS_1_5:
        return "1.5 stop bits";
    default:
        return "2 stop bits";
    }
}

inline constexpr std::string_view ParityText(std::uint8_t byCode) {
    switch (byCode) {
    case PARITY_NONE:
        return "No";
    case PARITY_ODD:
        return "Odd";
    case PARITY_EVEN:
        return "Even";
    case PARITY_MARK:
        return "Mark";
    case PARITY_SPACE:
        return "Space";
    default:
        return "Strange";
    }
}

// Smallest record that holds what a reader of `nType` looks at; data records
// additionally need their payload (see CRecordView::IsComplete).
inline constexpr std::size_t MinimumRecordSize(std::int8_t nType) {
    switch (nType) {
    case CAPTURE_DATA_READ:
    case CAPTURE_DATA_WRITTEN:
        return RECORD_DATA_OFFSET;
    case CAPTURE_BAUD_RATE:
        return RECORD_DATA_OFFSET + 4;
    case CAPTURE_LINE_CONTROL:
    case CAPTURE_FLOW_CONTROL:
        return RECORD_DATA_OFFSET + 3;
    case CAPTURE_PROCESS:
        return RECORD_DATA_OFFSET + PROCESS_PATH_OFFSET;
    case CAPTURE_MODEM_LINES:
    case CAPTURE_PORT_CONTROL:
    case CAPTURE_CALL_FAILED:
        return RECORD_DATA_OFFSET + 8;
    default:
        return RECORD_EVENT_TYPE_OFFSET + 1;
    }
}

// Little-endian fields, independent of the host's byte order.
inline std::uint32_t GetU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline std::uint64_t GetU64(const std::uint8_t* p) {
    return std::uint64_t(GetU32(p)) | std::uint64_t(GetU32(p + 4)) << 32;
}

inline void PutU32(std::uint8_t* p, std::uint32_t dwValue) {
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(dwValue >> (8 * i));
}

inline void PutU64(std::uint8_t* p, std::uint64_t qwValue) {
    PutU32(p, std::uint32_t(qwValue));
    PutU32(p + 4, std::uint32_t(qwValue >> 32));
}

// The attach input: a device path as UTF-16LE code units with a terminating
// NUL. Empty when the text is not UTF-8 or holds a NUL.
inline std::optional<std::vector<std::uint8_t>> EncodeDevicePath(std::string_view strPath) {
    std::vector<std::uint8_t> bytes;
    auto put = [&](std::uint32_t dwUnit) {
        bytes.push_back(std::uint8_t(dwUnit));
        bytes.push_back(std::uint8_t(dwUnit >> 8));
    };
    for (std::size_t i = 0; i < strPath.size();) {
        const std::uint8_t byLead = std::uint8_t(strPath[i]);
        const int nTrail = byLead < 0x80 ? 0 : byLead >= 0xF0 ? 3 : byLead >= 0xE0 ? 2 : 1;
        if (byLead == 0 || (byLead >= 0x80 && byLead < 0xC2) || byLead > 0xF4 ||
            strPath.size() - i <= std::size_t(nTrail))
            return std::nullopt;
        std::uint32_t dwCode = nTrail == 0 ? byLead : byLead & (0x3F >> nTrail);
        for (int k = 1; k <= nTrail; ++k) {
            const std::uint8_t byNext = std::uint8_t(strPath[i + k]);
            if ((byNext & 0xC0) != 0x80)
                return std::nullopt;
            dwCode = dwCode << 6 | (byNext & 0x3F);
        }
        static constexpr std::uint32_t SMALLEST[] = {0, 0x80, 0x800, 0x10000};
        if (dwCode < SMALLEST[nTrail] || dwCode > 0x10FFFF || (dwCode >= 0xD800 && dwCode < 0xE000))
            return std::nullopt;
        if (dwCode >= 0x10000) {
            put(0xD800 + ((dwCode - 0x10000) >> 10));
            put(0xDC00 + ((dwCode - 0x10000) & 0x3FF));
        } else {
            put(dwCode);
        }
        i += std::size_t(nTrail) + 1;
    }
    put(0);
    return bytes;
}

// The other way round, for the driver: empty unless the input is whole
// UTF-16LE (even size, paired surrogates) ending in its only NUL.
inline std::optional<std::string> DecodeDevicePath(std::span<const std::uint8_t> input) {
    if (input.size() < 2 || input.size() % 2 != 0)
        return std::nullopt;
    std::string strPath;
    const std::size_t nUnits = input.size() / 2;
    auto unit = [&](std::size_t i) { return std::uint32_t(input[2 * i] | input[2 * i + 1] << 8); };
    if (unit(nUnits - 1) != 0)
        return std::nullopt;
    for (std::size_t i = 0; i + 1 < nUnits; ++i) {
        std::uint32_t dwCode = unit(i);
        if (dwCode == 0 || (dwCode >= 0xDC00 && dwCode < 0xE000))
            return std::nullopt;
        if (dwCode >= 0xD800 && dwCode < 0xDC00) {
            const std::uint32_t dwLow = unit(++i);
            if (dwLow < 0xDC00 || dwLow >= 0xE000)
                return std::nullopt;
            dwCode = 0x10000 + ((dwCode - 0xD800) << 10) + (dwLow - 0xDC00);
        }
        if (dwCode < 0x80) {
            strPath += char(dwCode);
        } else if (dwCode < 0x800) {
            strPath += char(0xC0 | dwCode >> 6);
            strPath += char(0x80 | (dwCode & 0x3F));
        } else if (dwCode < 0x10000) {
            strPath += char(0xE0 | dwCode >> 12);
            strPath += char(0x80 | (dwCode >> 6 & 0x3F));
            strPath += char(0x80 | (dwCode & 0x3F));
        } else {
            strPath += char(0xF0 | dwCode >> 18);
            strPath += char(0x80 | (dwCode >> 12 & 0x3F));
            strPath += char(0x80 | (dwCode >> 6 & 0x3F));
            strPath += char(0x80 | (dwCode & 0x3F));
        }
    }
    return strPath;
}

// Record file: records one after another, each preceded by its 32-bit size.
// Walks `file` and calls `onRecord(span)` for each record; returns the offset
// at which the file stops making sense (file.size() when it is whole).
template <typename F>
std::size_t ForEachFileRecord(std::span<const std::uint8_t> file, F&& onRecord) {
    std::size_t nOffset = 0;
    while (file.size() - nOffset >= 4) {
        const std::uint32_t dwSize = GetU32(file.data() + nOffset);
        if (dwSize > file.size() - nOffset - 4)
            break;
        onRecord(file.subspan(nOffset + 4, dwSize));
        nOffset += 4 + std::size_t(dwSize);
    }
    return nOffset;
}

// False for bytes that a record file cannot start with: no whole first
// record (as in a text file, whose first four characters make a huge size).
inline bool StartsLikeRecordFile(std::span<const std::uint8_t> file) {
    return file.empty() || (file.size() >= 4 && GetU32(file.data()) <= file.size() - 4);
}

} // namespace Vantry
