// The program's view of the driver device (g_hDevice). Attach and detach
// are synchronous; wait and fetch end at once when the caller's stop event
// is set. Any number of threads may use one device: attach and detach share
// one connection (which owns the attachments, so it lives as long as the
// device is open), and every wait or fetch borrows a connection of its own
// from a pool, because a connection carries one request at a time. A request
// cut short by its stop event leaves its answer unread, so its connection is
// dropped instead of going back to the pool. Closing the device makes every
// request in flight on it, from any thread, fail at once with EBADF.
//
// Every operation returns 0 or an errno value: the driver's status, or
// ECANCELED (stop event), EBADF (device not open, or closed meanwhile),
// EPIPE (the driver went away).
#pragma once

#include "CAttachHandle.h"
#include "CCaptureRecord.h"
#include "CStopEvent.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

class CVantryConnection;

class CVantryDevice {
public:
    CVantryDevice();
    ~CVantryDevice();
    CVantryDevice(const CVantryDevice&) = delete;
    CVantryDevice& operator=(const CVantryDevice&) = delete;

    // The path that VANTRY_DEVICE names, or /run/Vantry.
    static std::string DefaultPath();
    // "/dev/NAME" for a port name; a name with a slash is a path, made absolute.
    static std::string PortDevicePath(std::string_view strPortName);
    // True for the errors that say the driver went away under a request: its
    // socket hung up (EPIPE) or refuses a new connection (ECONNREFUSED), or
    // the handle went with it (EBADF: detached on its way out, or the device
    // closed to stop it).
    static bool IsDriverGone(int nError);

    // ENOENT or ECONNREFUSED: no driver listens there. Closes a device that is open.
    int Open(const std::string& strPath = DefaultPath());
    void Close();
    bool IsOpen() const;

    // How the driver captures ("ebpf tp_btf", "ptrace", "replay", ...); empty
    // when it does not say (a driver older than the request) or is not open.
    std::optional<std::string> CaptureSource();
    int Attach(std::string_view strPortName, CAttachHandle& hAttach);
    int Detach(CAttachHandle hAttach);
    // The size of the oldest record waiting; waits for one when there is none.
    int Wait(CAttachHandle hAttach, const CStopEvent& stop, std::uint32_t& dwSize);
    // The oldest record, into a buffer of dwSize bytes (the size Wait reported),
    // at most MAX_RECORD_SIZE; EPROTO when the answer is not that size. No
    // stop cuts it short: the driver answers at once, and a record it took
    // out of the queue for an answer nobody reads would be lost.
    int Fetch(CAttachHandle hAttach, std::uint32_t dwSize, CCaptureRecord& record);
    // Wait and Fetch together: one record, two requests.
    int ReadRecord(CAttachHandle hAttach, const CStopEvent& stop, CCaptureRecord& record);
    // Waits for records and fetches as many as fit in `output` (at most
    // MAX_BATCH_SIZE are sent), each after its u32 size, into `output`, on
    // the caller's own connection, connected on first use. A request cut
    // short by the stop event stays asked for: the next call on the same
    // connection waits for its answer instead of asking again, so that no
    // record the driver sent meanwhile is lost. ENOTTY: the driver has no
    // batched fetch.
    int ReadBatch(CAttachHandle hAttach, const CStopEvent& stop, CVantryConnection& connection,
                  std::span<std::uint8_t> output, std::size_t& nOutput);

private:
    struct CSession;
    std::shared_ptr<CSession> Session() const;
    // hStopFd: an fd that ends the wait for the answer when readable, or -1.
    int Request(CAttachHandle hAttach, int hStopFd, std::uint32_t dwCode,
                std::span<std::uint8_t> output, std::size_t& nOutput);

    mutable std::mutex m_mutex;
    std::shared_ptr<CSession> m_pSession;
};
