#include "CRequestHandler.h"

#include "CAttachmentTable.h"
#include "CSourceSet.h"
#include "DriverLog.h"
#include "VantryProtocol.h"

#include <algorithm>
#include <cerrno>
#include <climits>

using namespace Vantry;

static CAnswer Status(int nError) {
    return CAnswer{std::uint32_t(nError), {}};
}

static CAnswer Value(std::uint32_t dwValue) {
    CAnswer answer;
    answer.output.resize(4);
    PutU32(answer.output.data(), dwValue);
    return answer;
}

std::optional<CAnswer> CRequestHandler::Handle(const CPeer& peer,
                                               std::span<const std::uint8_t> request,
                                               bool bTruncated, std::size_t nAnswerLimit,
                                               CParkedWait& parked) {
    if (request.size() < REQUEST_HEADER_SIZE)
        return Status(EBADMSG);
    const std::uint32_t dwCode = GetU32(request.data());
    const std::uint32_t dwCapacity = GetU32(request.data() + 4);
    const auto input = request.subspan(REQUEST_HEADER_SIZE);
    if (dwCode == IOCTL_VANTRY_ATTACH)
        return Attach(peer, dwCapacity, input, bTruncated, parked);
    if (dwCode == IOCTL_VANTRY_CAPTURE_SOURCE)
        return CaptureSource(dwCapacity, input, bTruncated);
    if (dwCode != IOCTL_VANTRY_DETACH && dwCode != IOCTL_VANTRY_WAIT_RECORD &&
        dwCode != IOCTL_VANTRY_FETCH_RECORD && dwCode != IOCTL_VANTRY_FETCH_RECORDS)
        return Status(ENOTTY);
    if (input.size() != 4 || bTruncated)
        return Status(EINVAL);
    const std::uint32_t dwHandle = GetU32(input.data());
    if (dwCode == IOCTL_VANTRY_DETACH)
        return Status(Detach(dwHandle, peer.m_uid, false));
    if (dwCode == IOCTL_VANTRY_FETCH_RECORD)
        return Fetch(peer, dwHandle, dwCapacity);
    if (dwCode == IOCTL_VANTRY_FETCH_RECORDS) {
        // No record fits less; more than one message can carry is cut down.
        if (dwCapacity < 4 + RECORD_DATA_OFFSET)
            return Status(ERANGE);
        const CParkedWait batch{dwHandle,
                                std::uint32_t(std::min<std::size_t>(dwCapacity, nAnswerLimit)),
                                false, nullptr, true};
        auto answer = FetchBatch(peer, batch);
        if (!answer)
            parked = batch;
        return answer;
    }
    auto answer = Wait(peer, CParkedWait{dwHandle, dwCapacity});
    if (!answer)
        parked = CParkedWait{dwHandle, dwCapacity};
    return answer;
}

std::optional<CAnswer> CRequestHandler::Resume(const CPeer& peer, std::uint64_t qwConnection,
                                               CParkedWait& parked) {
    if (parked.pCheck)
        return AttachChecked(peer, qwConnection, parked);
    if (parked.bAttach)
        return AttachAnswer(parked.dwHandle);
    return parked.bBatch ? FetchBatch(peer, parked) : Wait(peer, parked);
}

std::optional<CAnswer> CRequestHandler::Attach(const CPeer& peer, std::uint32_t dwCapacity,
                                               std::span<const std::uint8_t> input, bool bTruncated,
                                               CParkedWait& parked) {
    if (bTruncated)
        return Status(ENAMETOOLONG);
    if (dwCapacity < 4)
        return Status(ERANGE);
    const auto strPath = DecodeDevicePath(input);
    if (!strPath)
        return Status(EINVAL);
    if (strPath->size() >= PATH_MAX)
        return Status(ENAMETOOLONG);
    const std::string strRefused =
        "refused " + Quoted(*strPath) + " to uid " + std::to_string(peer.m_uid);
    if (strPath->empty() || (*strPath)[0] != '/') {
        m_refusals.Log(peer.m_uid, strRefused, EINVAL);
        return Status(EINVAL);
    }
    // The path is resolved beside the driver's thread, which meanwhile
    // serves everyone else.
    if (const int nError = m_checks.Start(*strPath, peer, parked.pCheck)) {
        m_refusals.Log(peer.m_uid, strRefused + ", no room to check it", nError);
        return Status(nError);
    }
    parked.bAttach = true;
    return std::nullopt;
}

CAnswer CRequestHandler::CaptureSource(std::uint32_t dwCapacity,
                                       std::span<const std::uint8_t> input, bool bTruncated) const {
    if (!input.empty() || bTruncated)
        return Status(EINVAL);
    if (dwCapacity < m_strCaptureSource.size())
        return Status(ERANGE);
    return CAnswer{0, {m_strCaptureSource.begin(), m_strCaptureSource.end()}};
}

std::optional<CAnswer> CRequestHandler::AttachChecked(const CPeer& peer, std::uint64_t qwConnection,
                                                      CParkedWait& parked) {
    int nError = 0;
    CPortId port;
    CScopedFd node;
    if (!m_checks.Finished(*parked.pCheck, nError, port, node))
        return std::nullopt;
    const std::string strPath = Quoted(parked.pCheck->m_strPath);
    parked.pCheck.reset();
    if (nError != 0) {
        m_refusals.Log(peer.m_uid, "refused " + strPath + " to uid " + std::to_string(peer.m_uid),
                       nError);
        return Status(nError);
    }
    std::uint32_t dwHandle = 0;
    if (const int nAddError = m_table.Add(port, peer.m_uid, qwConnection, dwHandle))
        return Status(nAddError);
    Log("attaching " + strPath + " for uid " + std::to_string(peer.m_uid) + ", handle " +
        std::to_string(dwHandle));
    // The answer waits for the sources (the live capture seizes the port's
    // holders first), but the device serves everyone else meanwhile.
    m_sources.WatchPort(
        port, node.Get(), peer.m_uid, dwHandle,
        [&table = m_table, dwHandle](int nWatchError) { table.Watched(dwHandle, nWatchError); });
    auto answer = AttachAnswer(dwHandle);
    if (!answer)
        parked.dwHandle = dwHandle;
    return answer;
}

std::optional<CAnswer> CRequestHandler::AttachAnswer(std::uint32_t dwHandle) {
    const auto nError = m_table.WatchAnswer(dwHandle);
    if (!nError)
        return std::nullopt;
    if (*nError != 0) {
        Log("cannot watch the port of handle " + std::to_string(dwHandle), *nError);
        Detach(dwHandle, 0, true);
        return Status(*nError);
    }
    Log("attached handle " + std::to_string(dwHandle));
    return Value(dwHandle);
}

int CRequestHandler::Detach(std::uint32_t dwHandle, uid_t uid, bool bAnyOwner) {
    CPortId port;
    uid_t owner = 0;
    if (const int nError = m_table.Remove(dwHandle, uid, bAnyOwner, port, owner))
        return nError;
    m_sources.UnwatchPort(dwHandle);
    Log("detached handle " + std::to_string(dwHandle));
    return 0;
}

void CRequestHandler::DetachConnection(std::uint64_t qwConnection) {
    for (const std::uint32_t dwHandle : m_table.HandlesOfConnection(qwConnection))
        Detach(dwHandle, 0, true);
}

void CRequestHandler::DetachAll() {
    for (const std::uint32_t dwHandle : m_table.AllHandles())
        Detach(dwHandle, 0, true);
}

std::optional<CAnswer> CRequestHandler::Wait(const CPeer& peer, const CParkedWait& wait) {
    if (wait.dwCapacity < 4)
        return Status(ERANGE);
    std::uint32_t dwSize = 0;
    const int nError = m_table.FrontSize(wait.dwHandle, peer.m_uid, dwSize);
    if (nError == EAGAIN)
        return std::nullopt;
    if (nError != 0)
        return Status(nError);
    return Value(dwSize);
}

CAnswer CRequestHandler::Fetch(const CPeer& peer, std::uint32_t dwHandle,
                               std::uint32_t dwCapacity) {
    CAnswer answer;
    answer.dwStatus = std::uint32_t(m_table.Pop(dwHandle, peer.m_uid, dwCapacity, answer.output));
    return answer;
}

std::optional<CAnswer> CRequestHandler::FetchBatch(const CPeer& peer, const CParkedWait& batch) {
    CAnswer answer;
    const int nError =
        m_table.PopBatch(batch.dwHandle, peer.m_uid, batch.dwCapacity, answer.output);
    if (nError == EAGAIN)
        return std::nullopt;
    answer.dwStatus = std::uint32_t(nError);
    return answer;
}
