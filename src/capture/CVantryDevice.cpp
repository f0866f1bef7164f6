#include "CVantryDevice.h"

#include "CVantryConnection.h"
#include "VantryProtocol.h"

#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

// One opening of the device. Requests in flight hold it, so it outlives a
// Close that happens meanwhile; its close event is what ends them.
struct CVantryDevice::CSession {
    std::string m_strPath;
    CScopedFd m_hClosed{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::mutex m_controlMutex;
    CVantryConnection m_control;
    std::mutex m_poolMutex;
    std::vector<std::unique_ptr<CVantryConnection>> m_idle;
    bool m_bClosed = false; // guarded by m_poolMutex

    std::unique_ptr<CVantryConnection> Borrow(int& nError) {
        {
            std::lock_guard lock(m_poolMutex);
            if (m_bClosed) {
                nError = EBADF;
                return nullptr;
            }
            if (!m_idle.empty()) {
                auto pConnection = std::move(m_idle.back());
                m_idle.pop_back();
                return pConnection;
            }
        }
        auto pConnection = std::make_unique<CVantryConnection>();
        nError = pConnection->Connect(m_strPath);
        return nError == 0 ? std::move(pConnection) : nullptr;
    }

    void GiveBack(std::unique_ptr<CVantryConnection> pConnection) {
        std::lock_guard lock(m_poolMutex);
        if (!m_bClosed && !pConnection->IsBroken())
            m_idle.push_back(std::move(pConnection));
    }
};

CVantryDevice::CVantryDevice() = default;

CVantryDevice::~CVantryDevice() {
    Close();
}

std::string CVantryDevice::DefaultPath() {
    const char* pszPath = std::getenv(Vantry::DEVICE_PATH_VARIABLE);
    return pszPath != nullptr && *pszPath != '\0' ? pszPath : Vantry::DEFAULT_DEVICE_PATH;
}

std::string CVantryDevice::PortDevicePath(std::string_view strPortName) {
    if (strPortName.find('/') == std::string_view::npos)
        return "/dev/" + std::string(strPortName);
    // The driver resolves paths from its own directory, not the caller's.
    std::error_code error;
    const auto path = std::filesystem::absolute(strPortName, error);
    return error ? std::string(strPortName) : path.string();
}

bool CVantryDevice::IsDriverGone(int nError) {
    return nError == EBADF || nError == EPIPE || nError == ECONNREFUSED;
}

int CVantryDevice::Open(const std::string& strPath) {
    Close();
    auto pSession = std::make_shared<CSession>();
    if (!pSession->m_hClosed.IsValid())
        return errno;
    pSession->m_strPath = strPath;
    if (const int nError = pSession->m_control.Connect(strPath))
        return nError;
    std::lock_guard lock(m_mutex);
    m_pSession = std::move(pSession);
    return 0;
}

void CVantryDevice::Close() {
    std::shared_ptr<CSession> pSession;
    {
        std::lock_guard lock(m_mutex);
        pSession = std::move(m_pSession);
    }
    if (!pSession)
        return;
    eventfd_write(pSession->m_hClosed.Get(), 1);
    {
        std::lock_guard lock(pSession->m_poolMutex);
        pSession->m_bClosed = true;
        pSession->m_idle.clear();
    }
    // Waits only for an attach or detach in flight, which the close event ends.
    std::lock_guard lock(pSession->m_controlMutex);
    pSession->m_control = CVantryConnection();
}

bool CVantryDevice::IsOpen() const {
    return Session() != nullptr;
}

std::shared_ptr<CVantryDevice::CSession> CVantryDevice::Session() const {
    std::lock_guard lock(m_mutex);
    return m_pSession;
}

std::optional<std::string> CVantryDevice::CaptureSource() {
    const auto pSession = Session();
    if (!pSession)
        return std::nullopt;
    std::uint8_t output[Vantry::MAX_CAPTURE_SOURCE_SIZE];
    std::size_t nOutput = 0;
    std::lock_guard lock(pSession->m_controlMutex);
    if (pSession->m_control.Transact(Vantry::IOCTL_VANTRY_CAPTURE_SOURCE, {}, output, nOutput, -1,
                                     pSession->m_hClosed.Get()) != 0)
        return std::nullopt;
    return std::string(output, output + nOutput);
}

int CVantryDevice::Attach(std::string_view strPortName, CAttachHandle& hAttach) {
    const auto input = Vantry::EncodeDevicePath(PortDevicePath(strPortName));
    if (!input)
        return EINVAL;
    const auto pSession = Session();
    if (!pSession)
        return EBADF;
    std::uint8_t output[4];
    std::size_t nOutput = 0;
    std::lock_guard lock(pSession->m_controlMutex);
    int nError = pSession->m_control.Transact(Vantry::IOCTL_VANTRY_ATTACH, *input, output, nOutput,
                                              -1, pSession->m_hClosed.Get());
    if (nError == 0 && (nOutput != 4 || Vantry::GetU32(output) == 0))
        nError = EPROTO;
    if (nError == 0)
        hAttach = CAttachHandle(Vantry::GetU32(output));
    return nError;
}

int CVantryDevice::Detach(CAttachHandle hAttach) {
    const auto pSession = Session();
    if (!pSession)
        return EBADF;
    std::uint8_t input[4];
    Vantry::PutU32(input, hAttach.Value());
    std::size_t nOutput = 0;
    std::lock_guard lock(pSession->m_controlMutex);
    return pSession->m_control.Transact(Vantry::IOCTL_VANTRY_DETACH, input, {}, nOutput, -1,
                                        pSession->m_hClosed.Get());
}

int CVantryDevice::Request(CAttachHandle hAttach, int hStopFd, std::uint32_t dwCode,
                           std::span<std::uint8_t> output, std::size_t& nOutput) {
    const auto pSession = Session();
    if (!pSession)
        return EBADF;
    int nError = 0;
    auto pConnection = pSession->Borrow(nError);
    if (!pConnection)
        return nError;
    std::uint8_t input[4];
    Vantry::PutU32(input, hAttach.Value());
    nError =
        pConnection->Transact(dwCode, input, output, nOutput, hStopFd, pSession->m_hClosed.Get());
    pSession->GiveBack(std::move(pConnection));
    return nError;
}

int CVantryDevice::Wait(CAttachHandle hAttach, const CStopEvent& stop, std::uint32_t& dwSize) {
    std::uint8_t output[4];
    std::size_t nOutput = 0;
    int nError = Request(hAttach, stop.Fd(), Vantry::IOCTL_VANTRY_WAIT_RECORD, output, nOutput);
    if (nError == 0 && nOutput != 4)
        nError = EPROTO;
    if (nError == 0)
        dwSize = Vantry::GetU32(output);
    return nError;
}

int CVantryDevice::Fetch(CAttachHandle hAttach, std::uint32_t dwSize, CCaptureRecord& record) {
    // No record is larger than the protocol allows, whatever size is reported.
    CCaptureRecord buffer(std::min<std::size_t>(dwSize, Vantry::MAX_RECORD_SIZE));
    std::size_t nOutput = 0;
    const int nError = Request(hAttach, -1, Vantry::IOCTL_VANTRY_FETCH_RECORD,
                               {buffer.Data(), buffer.Size()}, nOutput);
    if (nError != 0)
        return nError;
    // Only one reader takes from an attachment, so the record fetched is the
    // one waited for: an answer of another size is a broken one.
    if (nOutput != dwSize)
        return EPROTO;
    record = std::move(buffer);
    return 0;
}

int CVantryDevice::ReadRecord(CAttachHandle hAttach, const CStopEvent& stop,
                              CCaptureRecord& record) {
    std::uint32_t dwSize = 0;
    const int nError = Wait(hAttach, stop, dwSize);
    return nError != 0 ? nError : Fetch(hAttach, dwSize, record);
}

int CVantryDevice::ReadBatch(CAttachHandle hAttach, const CStopEvent& stop,
                             CVantryConnection& connection, std::span<std::uint8_t> output,
                             std::size_t& nOutput) {
    nOutput = 0;
    const auto pSession = Session();
    if (!pSession)
        return EBADF;
    if (connection.IsAnswerOwed())
        return connection.AwaitOwedAnswer(output, nOutput, stop.Fd(), pSession->m_hClosed.Get());
    if (connection.IsBroken()) {
        if (const int nError = connection.Connect(pSession->m_strPath))
            return nError;
    }
    std::uint8_t input[4];
    Vantry::PutU32(input, hAttach.Value());
    return connection.Transact(Vantry::IOCTL_VANTRY_FETCH_RECORDS, input, output, nOutput,
                               stop.Fd(), pSession->m_hClosed.Get());
}
