#include "CPortPresence.h"

#include "CTimelineModel.h"
#include "ControlText.h"

#include <algorithm>

using namespace Vantry;

namespace {

// The kinds of change said once per process, as bits of CHolder::nSaid.
constexpr unsigned CHANGED_SETTINGS = 1;
constexpr unsigned CHANGED_LINES = 2;
constexpr unsigned CHANGED_CONTROL = 4;

unsigned KindOf(std::int8_t nType) {
    switch (nType) {
    case CAPTURE_BAUD_RATE:
    case CAPTURE_LINE_CONTROL:
    case CAPTURE_FLOW_CONTROL:
        return CHANGED_SETTINGS;
    case CAPTURE_MODEM_LINES:
        return CHANGED_LINES;
    case CAPTURE_PORT_CONTROL:
        return CHANGED_CONTROL;
    default:
        return 0;
    }
}

const char* KindWords(unsigned nKind) {
    return nKind == CHANGED_SETTINGS ? "the settings"
           : nKind == CHANGED_LINES  ? "the modem lines"
                                     : "the port's control";
}

} // namespace

std::optional<std::string> CPortPresence::Follow(const CRecordView& record) {
    if (!record.IsComplete())
        return std::nullopt;
    const std::int8_t nType = *record.EventType();
    const std::uint32_t dwPid = record.GetStamp()->dwProcessId;
    if (nType == CAPTURE_PROCESS) {
        const auto payload = record.Bytes().subspan(RECORD_DATA_OFFSET);
        CProcess& process = Note(GetU32(payload.data()));
        process.dwUid = GetU32(payload.data() + 4);
        const auto command = payload.subspan(8, PROCESS_COMMAND_SIZE);
        process.strCommand = ControlText::Printable(command.first(
            std::size_t(std::find(command.begin(), command.end(), 0) - command.begin())));
        const auto path = payload.subspan(PROCESS_PATH_OFFSET);
        process.strPath.assign(path.begin(), path.end());
        return std::nullopt;
    }
    if (dwPid == 0) {
        // A close the driver could not pin on a process (older drivers,
        // late openers) is the holder's only when there is just one.
        if (nType == CAPTURE_PORT_CLOSED && m_holders.size() == 1)
            m_holders.clear();
        return std::nullopt;
    }
    if (nType == CAPTURE_DRIVER_NOTICE || nType < 0 || nType > CAPTURE_CALL_FAILED)
        return std::nullopt;
    Note(dwPid);
    auto holder = HolderOf(dwPid);
    if (nType == CAPTURE_PORT_CLOSED) {
        if (holder != m_holders.end() && --holder->nOpens == 0)
            m_holders.erase(holder);
        return std::nullopt;
    }
    if (nType == CAPTURE_PORT_OPENED) {
        const auto other = std::find_if(m_holders.begin(), m_holders.end(),
                                        [&](const CHolder& h) { return h.dwPid != dwPid; });
        const std::optional<std::uint32_t> dwOther =
            other == m_holders.end() ? std::nullopt : std::optional(other->dwPid);
        if (holder != m_holders.end())
            ++holder->nOpens;
        else
            m_holders.push_back({dwPid, 1, 0});
        if (!dwOther)
            return std::nullopt;
        return Who(dwPid) + " opened the port while " + Who(*dwOther) + " holds it";
    }
    // Whoever works on the port without an open seen opened it before the
    // capture started.
    if (holder == m_holders.end()) {
        m_holders.push_back({dwPid, 1, 0});
        holder = m_holders.end() - 1;
    }
    const unsigned nKind = KindOf(nType);
    if (nKind == CHANGED_SETTINGS) {
        // Settings as they were change nothing: the port's settings that an
        // opener finds, or a program setting what is set already.
        const auto payload = record.Bytes().subspan(RECORD_DATA_OFFSET);
        std::vector<std::uint8_t>& last = m_lastSettings[nType];
        const bool bSame = std::ranges::equal(last, payload);
        last.assign(payload.begin(), payload.end());
        if (bSame)
            return std::nullopt;
    }
    const std::uint32_t dwFirst = m_holders.front().dwPid;
    if (nKind == 0 || dwFirst == dwPid || (holder->nSaid & nKind))
        return std::nullopt;
    holder->nSaid |= nKind;
    return Who(dwPid) + " changed " + KindWords(nKind) + " while " + Who(dwFirst) +
           " holds the port";
}

void CPortPresence::Clear() {
    m_processes.clear();
    m_index.clear();
    m_holders.clear();
    m_lastSettings.clear();
}

const std::string& CPortPresence::CommandOf(std::uint32_t dwPid) const {
    static const std::string EMPTY;
    const auto found = m_index.find(dwPid);
    return found == m_index.end() ? EMPTY : m_processes[found->second].strCommand;
}

int CPortPresence::ColourOf(std::uint32_t dwPid) const {
    const auto found = m_index.find(dwPid);
    return dwPid == 0 || found == m_index.end() ? -1 : m_processes[found->second].nColour;
}

CPortPresence::CProcess& CPortPresence::Note(std::uint32_t dwPid) {
    const auto [found, bNew] = m_index.try_emplace(dwPid, m_processes.size());
    if (bNew)
        m_processes.push_back(
            {dwPid, 0, {}, {}, int(found->second % CTimelineModel::PALETTE_SIZE)});
    return m_processes[found->second];
}

std::vector<CPortPresence::CHolder>::iterator CPortPresence::HolderOf(std::uint32_t dwPid) {
    return std::find_if(m_holders.begin(), m_holders.end(),
                        [&](const CHolder& h) { return h.dwPid == dwPid; });
}

std::string CPortPresence::Who(std::uint32_t dwPid) const {
    const std::string& strCommand = CommandOf(dwPid);
    return "pid " + std::to_string(dwPid) + (strCommand.empty() ? "" : " (" + strCommand + ")");
}
