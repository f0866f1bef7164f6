#include "CPcapngWriter.h"

#include "WriteAll.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <limits.h>

using namespace Vantry;

namespace {

constexpr std::uint32_t BLOCK_SECTION = 0x0A0D0D0A;
constexpr std::uint32_t BLOCK_INTERFACE = 1;
constexpr std::uint32_t BLOCK_PACKET = 6;
constexpr std::uint32_t BYTE_ORDER_MAGIC = 0x1A2B3C4D;

constexpr std::uint16_t OPT_END = 0;
constexpr std::uint16_t OPT_COMMENT = 1;
constexpr std::uint16_t SHB_OS = 3;
constexpr std::uint16_t SHB_USERAPPL = 4;
constexpr std::uint16_t IF_NAME = 2;
constexpr std::uint16_t IF_TSRESOL = 9;
constexpr std::uint16_t EPB_FLAGS = 2;

constexpr std::uint32_t DIRECTION_INBOUND = 1;
constexpr std::uint32_t DIRECTION_OUTBOUND = 2;

void Put16(std::vector<std::uint8_t>& block, std::uint16_t wValue) {
    block.push_back(std::uint8_t(wValue));
    block.push_back(std::uint8_t(wValue >> 8));
}

void Put32(std::vector<std::uint8_t>& block, std::uint32_t dwValue) {
    Put16(block, std::uint16_t(dwValue));
    Put16(block, std::uint16_t(dwValue >> 16));
}

void Pad(std::vector<std::uint8_t>& block) {
    block.resize((block.size() + 3) & ~std::size_t(3), 0);
}

std::string CommandText(std::span<const std::uint8_t> name) {
    std::string strCommand(name.begin(), name.end());
    return strCommand.substr(0, strCommand.find('\0'));
}

} // namespace

CPcapngWriter::Sink CPcapngWriter::FdSink(int hFd) {
    return [hFd](std::span<const std::uint8_t> block) {
        return WriteAll(hFd, block.data(), block.size());
    };
}

bool CPcapngWriter::WriteSection(const std::string& strApplication) {
    char szHost[HOST_NAME_MAX + 1] = {};
    gethostname(szHost, HOST_NAME_MAX);
    struct utsname system {};
    uname(&system);
    return WriteSection(szHost, strApplication, std::string(system.sysname) + " " + system.release);
}

bool CPcapngWriter::WriteSection(const std::string& strHost, const std::string& strApplication,
                                 const std::string& strOs) {
    Begin(BLOCK_SECTION);
    Put32(m_block, BYTE_ORDER_MAGIC);
    Put16(m_block, 1);
    Put16(m_block, 0);
    // The section's length is not known while it is written.
    Put32(m_block, 0xFFFFFFFF);
    Put32(m_block, 0xFFFFFFFF);
    PutOption(OPT_COMMENT, "host " + strHost);
    PutOption(SHB_USERAPPL, strApplication);
    PutOption(SHB_OS, strOs);
    m_commands.clear();
    return End();
}

bool CPcapngWriter::AddInterface(const std::string& strPortPath, std::uint32_t& nInterface) {
    Begin(BLOCK_INTERFACE);
    Put16(m_block, LINKTYPE_USER0);
    Put16(m_block, 0);
    Put32(m_block, 0);
    PutOption(IF_NAME, strPortPath);
    const std::uint8_t byNanoseconds = 9;
    PutOption(IF_TSRESOL, {&byNanoseconds, 1});
    if (!End())
        return false;
    nInterface = std::uint32_t(m_commands.size());
    m_commands.emplace_back();
    return true;
}

bool CPcapngWriter::WriteRecord(std::uint32_t nInterface, const CRecordView& view) {
    if (!view.IsComplete() || nInterface >= m_commands.size())
        return true;
    const std::int8_t nType = *view.EventType();
    const auto stamp = *view.GetStamp();
    const bool bData = nType == CAPTURE_DATA_READ || nType == CAPTURE_DATA_WRITTEN;
    const auto payload =
        bData ? view.Payload() : view.Bytes().subspan(std::min(view.Size(), RECORD_DATA_OFFSET));
    auto& commands = m_commands[nInterface];
    if (nType == CAPTURE_PROCESS)
        commands[GetU32(payload.data())] = CommandText(payload.subspan(8, PROCESS_COMMAND_SIZE));
    const auto it = commands.find(stamp.dwProcessId);
    const std::string strCommand = it == commands.end() ? std::string() : it->second;

    Begin(BLOCK_PACKET);
    Put32(m_block, nInterface);
    Put32(m_block, std::uint32_t(stamp.qwTimeNs >> 32));
    Put32(m_block, std::uint32_t(stamp.qwTimeNs));
    const std::uint32_t dwLength = std::uint32_t(HEAD_SIZE + payload.size());
    Put32(m_block, dwLength);
    Put32(m_block, dwLength);
    m_block.push_back(LAYOUT_VERSION);
    m_block.push_back(std::uint8_t(nType));
    Put16(m_block, std::uint16_t(HEAD_SIZE));
    Put32(m_block, stamp.dwSequence);
    Put32(m_block, stamp.dwProcessId);
    m_block.insert(m_block.end(), strCommand.begin(), strCommand.end());
    m_block.resize(m_block.size() + PROCESS_COMMAND_SIZE - strCommand.size(), 0);
    Put32(m_block, std::uint32_t(payload.size()));
    m_block.insert(m_block.end(), payload.begin(), payload.end());
    Pad(m_block);

    std::uint8_t flags[4];
    PutU32(flags, nType == CAPTURE_DATA_READ      ? DIRECTION_INBOUND
                  : nType == CAPTURE_DATA_WRITTEN ? DIRECTION_OUTBOUND
                                                  : 0);
    PutOption(EPB_FLAGS, flags);
    PutOption(OPT_COMMENT, "pid " + std::to_string(stamp.dwProcessId) +
                               (strCommand.empty() ? "" : " " + strCommand));
    return End();
}

void CPcapngWriter::Begin(std::uint32_t dwType) {
    m_block.clear();
    Put32(m_block, dwType);
    Put32(m_block, 0); // the total length, known at End
}

void CPcapngWriter::PutOption(std::uint16_t wCode, std::span<const std::uint8_t> value) {
    Put16(m_block, wCode);
    Put16(m_block, std::uint16_t(value.size()));
    m_block.insert(m_block.end(), value.begin(), value.end());
    Pad(m_block);
}

void CPcapngWriter::PutOption(std::uint16_t wCode, const std::string& strValue) {
    PutOption(wCode, {reinterpret_cast<const std::uint8_t*>(strValue.data()),
                      std::min<std::size_t>(strValue.size(), 0xFFFC)});
}

bool CPcapngWriter::End() {
    Put16(m_block, OPT_END);
    Put16(m_block, 0);
    const std::uint32_t dwTotal = std::uint32_t(m_block.size() + 4);
    Put32(m_block, dwTotal);
    PutU32(m_block.data() + 4, dwTotal);
    return m_sink(m_block);
}
