// A capture as pcapng, in the layout of docs/pcapng.md: a section header,
// one interface for each port, and one packet for each record, its head
// naming the record's type, sequence number and process. Every block goes to
// the sink whole and at once, so a reader at the other end of a pipe has
// each packet as soon as its record came.
#pragma once

#include "CRecordView.h"

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

class CPcapngWriter {
public:
    // Takes one whole block; false when it could not be written.
    using Sink = std::function<bool(std::span<const std::uint8_t>)>;

    static constexpr std::uint16_t LINKTYPE_USER0 = 147;
    static constexpr std::size_t HEAD_SIZE = 32;
    static constexpr std::uint8_t LAYOUT_VERSION = 1;

    explicit CPcapngWriter(Sink sink) : m_sink(std::move(sink)) {}
    // A sink that writes each block to a descriptor; errno tells why it failed.
    static Sink FdSink(int hFd);

    // strApplication such as "wirelet-cli 1.0"; the host and the kernel are
    // this machine's.
    bool WriteSection(const std::string& strApplication);
    bool WriteSection(const std::string& strHost, const std::string& strApplication,
                      const std::string& strOs);
    // Returns false, or true and the interface's number in nInterface.
    bool AddInterface(const std::string& strPortPath, std::uint32_t& nInterface);
    // A record that is not whole writes nothing and is no failure: the same
    // record is passed over by every other reader too.
    bool WriteRecord(std::uint32_t nInterface, const CRecordView& view);

private:
    void Begin(std::uint32_t dwType);
    void PutOption(std::uint16_t wCode, std::span<const std::uint8_t> value);
    void PutOption(std::uint16_t wCode, const std::string& strValue);
    bool End();

    Sink m_sink;
    std::vector<std::uint8_t> m_block;
    // The latest command name of each pid, for each interface.
    std::vector<std::map<std::uint32_t, std::string>> m_commands;
};
