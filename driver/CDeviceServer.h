// The driver device: a SOCK_SEQPACKET socket, one message per request or
// answer, served by one thread that polls the socket, every connection, the
// attachment table's and the attach checks' wake descriptors and a stop
// descriptor. A connection
// with a wait parked is not read from until the wait is answered (one
// request at a time), but its hang-up is still seen, so a client that goes
// away mid-request leaves nothing behind.
#pragma once

#include "CPeer.h"
#include "CRequestHandler.h"
#include "CScopedFd.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CDeviceServer {
public:
    // Connections beyond these are closed at once. Root (the program) is
    // never turned away, so other users cannot crowd it out.
    static constexpr std::size_t MAX_CONNECTIONS = 512;
    static constexpr std::size_t MAX_CONNECTIONS_PER_USER = 64;
    // Longest request read whole; an attach path beyond it is refused.
    static constexpr std::size_t MAX_REQUEST_SIZE = 16 * 1024;

    // strCaptureSource: how the sources capture ("ptrace", "replay", ...),
    // told to any client that asks.
    CDeviceServer(CAttachmentTable& table, CSourceSet& sources, std::string strCaptureSource);
    // Detaches everything and removes the socket.
    ~CDeviceServer();
    CDeviceServer(const CDeviceServer&) = delete;
    CDeviceServer& operator=(const CDeviceServer&) = delete;

    // Creates and listens on the device. Refuses a path that another driver
    // listens on or that holds something other than a socket; a socket left
    // behind by a driver that died is replaced. On failure explains why.
    bool Listen(const std::string& strPath, std::string& strError);
    // Serves a listening socket made by someone else (systemd's socket
    // unit), whose path is theirs to remove. Takes hSocket in any case.
    bool Adopt(int hSocket, std::string& strError);
    // Serves until hStopFd becomes readable.
    void Run(int hStopFd);

private:
    struct CConnection {
        CScopedFd m_hSocket;
        CPeer m_peer;
        std::uint64_t m_qwId = 0;
        // The longest answer its send buffer takes in one message.
        std::size_t m_nAnswerLimit = 0;
        CParkedWait m_parked;
    };

    void Accept();
    bool HasRoomFor(const CPeer& peer) const;
    // False when the connection is to be dropped.
    bool ServeRequest(CConnection& connection);
    bool Send(CConnection& connection, const CAnswer& answer);
    void AnswerParkedWaits();
    // Forgets the connections whose socket is closed, and their attachments.
    void DropClosed();
    void Shutdown();

    CAttachmentTable& m_table;
    CSourceSet& m_sources;
    CRequestHandler m_handler;
    CScopedFd m_hListen;
    CScopedFd m_hReserve;  // given up to turn a connection away when out of descriptors
    std::string m_strPath; // empty: not ours to remove
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    std::vector<std::unique_ptr<CConnection>> m_connections;
    std::uint64_t m_qwNextConnection = 1;
    std::vector<std::uint8_t> m_request;
};
