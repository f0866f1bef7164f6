#include "ControlText.h"

// The kernel's own request codes, not the C library's termios: the driver
// records the ioctl a process made, whichever library made it.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace Vantry;

namespace ControlText {

namespace {

std::uint32_t PayloadU32(const CRecordView& record, std::size_t nOffset) {
    return GetU32(record.Bytes().data() + RECORD_DATA_OFFSET + nOffset);
}

std::string ProcessWords(const CRecordView& record) {
    const auto payload = record.Bytes().subspan(RECORD_DATA_OFFSET);
    const auto command = payload.subspan(8, PROCESS_COMMAND_SIZE);
    const auto nCommand = std::find(command.begin(), command.end(), 0) - command.begin();
    std::string strWords = "Process " + std::to_string(PayloadU32(record, 0));
    if (nCommand > 0)
        strWords += " (" + Printable(command.first(std::size_t(nCommand))) + ")";
    strWords += ", uid " + std::to_string(PayloadU32(record, 4));
    if (payload.size() > PROCESS_PATH_OFFSET)
        strWords += ": " + Printable(payload.subspan(PROCESS_PATH_OFFSET));
    return strWords;
}

std::string LineNames(std::uint32_t dwLines) {
    static constexpr struct {
        std::uint32_t dwBit;
        const char* pszName;
    } LINES[] = {{LINE_DTR, "DTR"}, {LINE_RTS, "RTS"},   {LINE_CTS, "CTS"},   {LINE_DSR, "DSR"},
                 {LINE_CD, "CD"},   {LINE_RI, "RI"},     {LINE_LE, "LE"},     {LINE_ST, "ST"},
                 {LINE_SR, "SR"},   {LINE_OUT1, "OUT1"}, {LINE_OUT2, "OUT2"}, {LINE_LOOP, "LOOP"}};
    std::string strNames;
    for (const auto& line : LINES) {
        if (dwLines & line.dwBit) {
            strNames += (strNames.empty() ? "" : " ") + std::string(line.pszName);
            dwLines &= ~line.dwBit;
        }
    }
    if (dwLines != 0) {
        char szRest[16];
        std::snprintf(szRest, sizeof szRest, "0x%X", dwLines);
        strNames += (strNames.empty() ? "" : " ") + std::string(szRest);
    }
    return strNames.empty() ? "none" : strNames;
}

std::string ModemWords(const CRecordView& record) {
    const std::uint32_t dwCall = PayloadU32(record, 0);
    const char* pszHow = dwCall == MODEM_SET     ? "set"
                         : dwCall == MODEM_RAISE ? "raised"
                         : dwCall == MODEM_LOWER ? "lowered"
                                                 : "changed";
    return std::string("Modem lines ") + pszHow + ": " + LineNames(PayloadU32(record, 4));
}

std::string ControlWords(const CRecordView& record) {
    const std::uint32_t dwValue = PayloadU32(record, 4);
    switch (PayloadU32(record, 0)) {
    case CONTROL_BREAK:
        return "Break for " + std::to_string(dwValue) + " ms";
    case CONTROL_BREAK_ON:
        return "Break on";
    case CONTROL_BREAK_OFF:
        return "Break off";
    case CONTROL_DRAIN:
        return "Drain";
    case CONTROL_FLUSH:
        return dwValue == TCIFLUSH   ? "Flush input"
               : dwValue == TCOFLUSH ? "Flush output"
                                     : "Flush input and output";
    case CONTROL_FLOW:
        return dwValue == TCOOFF   ? "Output suspended"
               : dwValue == TCOON  ? "Output resumed"
               : dwValue == TCIOFF ? "Stop character sent"
                                   : "Start character sent";
    default:
        return "Port control " + std::to_string(PayloadU32(record, 0)) + " (" +
               std::to_string(dwValue) + ")";
    }
}

std::string FlowWords(const CRecordView& record) {
    const std::uint8_t* p = record.Bytes().data() + RECORD_DATA_OFFSET;
    std::string strWords;
    for (const auto& [byBit, pszName] :
         {std::pair{FLOW_RTS_CTS, "RTS/CTS"}, std::pair{FLOW_XON_OUT, "XON/XOFF out"},
          std::pair{FLOW_XON_IN, "XON/XOFF in"}}) {
        if (p[0] & byBit)
            strWords += (strWords.empty() ? "" : ", ") + std::string(pszName);
    }
    return "Flow control: " + (strWords.empty() ? "none" : strWords) + "; VMIN " +
           std::to_string(p[1]) + ", VTIME " + std::to_string(p[2]);
}

std::string FailedWords(const CRecordView& record) {
    static constexpr struct {
        std::uint32_t dwRequest;
        const char* pszName;
        bool bSettings;
    } REQUESTS[] = {
        {TCSETS, "TCSETS", true},      {TCSETSW, "TCSETSW", true},    {TCSETSF, "TCSETSF", true},
        {TCSETS2, "TCSETS2", true},    {TCSETSW2, "TCSETSW2", true},  {TCSETSF2, "TCSETSF2", true},
        {TCSETA, "TCSETA", true},      {TCSETAW, "TCSETAW", true},    {TCSETAF, "TCSETAF", true},
        {TIOCMSET, "TIOCMSET", false}, {TIOCMBIS, "TIOCMBIS", false}, {TIOCMBIC, "TIOCMBIC", false},
        {TCSBRK, "TCSBRK", false},     {TCSBRKP, "TCSBRKP", false},   {TIOCSBRK, "TIOCSBRK", false},
        {TIOCCBRK, "TIOCCBRK", false}, {TCXONC, "TCXONC", false},     {TCFLSH, "TCFLSH", false}};
    const std::uint32_t dwRequest = PayloadU32(record, 0);
    std::string strCall;
    for (const auto& request : REQUESTS) {
        if (request.dwRequest == dwRequest)
            strCall = std::string(request.bSettings ? "Settings" : "Control") + " call " +
                      request.pszName;
    }
    if (strCall.empty()) {
        char szRequest[16];
        std::snprintf(szRequest, sizeof szRequest, "0x%X", dwRequest);
        strCall = std::string("Call ") + szRequest;
    }
    return strCall + " failed: " + std::strerror(int(PayloadU32(record, 4)));
}

} // namespace

std::string Printable(std::span<const std::uint8_t> bytes) {
    std::string strText;
    for (const std::uint8_t byValue : bytes)
        strText += byValue < 0x20 || byValue == 0x7F ? '?' : char(byValue);
    return strText;
}

std::optional<std::string> Describe(const CRecordView& record) {
    if (!record.IsComplete())
        return std::nullopt;
    switch (*record.EventType()) {
    case CAPTURE_PROCESS:
        return ProcessWords(record);
    case CAPTURE_MODEM_LINES:
        return ModemWords(record);
    case CAPTURE_PORT_CONTROL:
        return ControlWords(record);
    case CAPTURE_FLOW_CONTROL:
        return FlowWords(record);
    case CAPTURE_CALL_FAILED:
        return FailedWords(record);
    default:
        return std::nullopt;
    }
}

} // namespace ControlText
