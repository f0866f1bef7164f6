// Who is on a port, followed from its records: the processes the driver
// named, which of them hold the port, and the records that show another
// process at work on it (a second opener while one holds the port; settings
// or control lines changed by a process other than the one that holds it).
// The timeline and the console say the same from it.
#pragma once

#include "CRecordView.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class CPortPresence {
public:
    struct CProcess {
        std::uint32_t dwPid = 0;
        std::uint32_t dwUid = 0;
        std::string strCommand; // empty until the driver names it
        std::string strPath;
        int nColour = 0; // order of first appearance, modulo the palette
    };

    // Follows one complete record. Returns the words (English) when it
    // shows another process on the port.
    std::optional<std::string> Follow(const CRecordView& record);
    void Clear();

    // Empty text for a process never named.
    const std::string& CommandOf(std::uint32_t dwPid) const;
    const std::vector<CProcess>& Processes() const { return m_processes; }
    // The palette index of a process, -1 for pid 0.
    int ColourOf(std::uint32_t dwPid) const;

private:
    // A process that holds the port, with the opens it has not closed yet and
    // the kinds of change by it already said.
    struct CHolder {
        std::uint32_t dwPid;
        int nOpens;
        unsigned nSaid;
    };

    CProcess& Note(std::uint32_t dwPid);
    std::vector<CHolder>::iterator HolderOf(std::uint32_t dwPid);
    std::string Who(std::uint32_t dwPid) const;

    std::vector<CProcess> m_processes;
    std::unordered_map<std::uint32_t, std::size_t> m_index; // pid: its place in m_processes
    std::vector<CHolder> m_holders;                         // in the order they took the port
    // The last record of each kind of settings, by type.
    std::map<std::int8_t, std::vector<std::uint8_t>> m_lastSettings;
};
