#include "CDeviceServer.h"

#include "CAttachmentTable.h"
#include "CSourceSet.h"
#include "VantryProtocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

CDeviceServer::CDeviceServer(CAttachmentTable& table, CSourceSet& sources,
                             std::string strCaptureSource)
    : m_table(table), m_sources(sources), m_handler(table, sources, std::move(strCaptureSource)),
      m_request(MAX_REQUEST_SIZE) {}

CDeviceServer::~CDeviceServer() {
    Shutdown();
}

static std::string Explain(const std::string& strWhat, int nError) {
    return strWhat + ": " + std::strerror(nError);
}

bool CDeviceServer::Listen(const std::string& strPath, std::string& strError) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (strPath.empty() || strPath.size() >= sizeof address.sun_path) {
        strError = "cannot create the device " + strPath + ": the path is empty or too long";
        return false;
    }
    std::memcpy(address.sun_path, strPath.c_str(), strPath.size() + 1);
    const auto* pAddress = reinterpret_cast<const sockaddr*>(&address);

    struct stat status {};
    if (lstat(strPath.c_str(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode)) {
            strError = "cannot create the device " + strPath +
                       ": the path exists and is not a socket (left as it is)";
            return false;
        }
        CScopedFd hProbe(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (connect(hProbe.Get(), pAddress, sizeof address) == 0) {
            strError = "another driver is already listening on " + strPath;
            return false;
        }
        if (errno != ECONNREFUSED) {
            strError = Explain("cannot check the device " + strPath, errno);
            return false;
        }
        unlink(strPath.c_str()); // left behind by a driver that died
    }

    CScopedFd hListen(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!hListen.IsValid()) {
        strError = Explain("cannot create a socket", errno);
        return false;
    }
    if (bind(hListen.Get(), pAddress, sizeof address) != 0) {
        strError = errno == EADDRINUSE ? "another driver is already listening on " + strPath
                                       : Explain("cannot create the device " + strPath, errno);
        return false;
    }
    // Anyone may connect: what a client may do is decided per request from
    // its credentials.
    if (chmod(strPath.c_str(), 0666) != 0 || listen(hListen.Get(), SOMAXCONN) != 0 ||
        lstat(strPath.c_str(), &status) != 0) {
        strError = Explain("cannot set up the device " + strPath, errno);
        unlink(strPath.c_str());
        return false;
    }
    m_hReserve.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
    m_hListen = std::move(hListen);
    m_strPath = strPath;
    m_socketDevice = status.st_dev;
    m_socketInode = status.st_ino;
    return true;
}

bool CDeviceServer::Adopt(int hSocket, std::string& strError) {
    CScopedFd hListen(hSocket);
    int nDomain = 0, nType = 0, nListening = 0;
    socklen_t nSize = sizeof nDomain;
    const bool bUsable = getsockopt(hSocket, SOL_SOCKET, SO_DOMAIN, &nDomain, &nSize) == 0 &&
                         getsockopt(hSocket, SOL_SOCKET, SO_TYPE, &nType, &nSize) == 0 &&
                         getsockopt(hSocket, SOL_SOCKET, SO_ACCEPTCONN, &nListening, &nSize) == 0;
    if (!bUsable || nDomain != AF_UNIX || nType != SOCK_SEQPACKET || !nListening) {
        strError = bUsable ? "the socket handed over is not a listening AF_UNIX "
                             "SOCK_SEQPACKET socket (ListenSequentialPacket=)"
                           : Explain("cannot check the socket handed over", errno);
        return false;
    }
    const int nFlags = fcntl(hSocket, F_GETFL);
    if (nFlags < 0 || fcntl(hSocket, F_SETFL, nFlags | O_NONBLOCK) != 0) {
        strError = Explain("cannot set up the socket handed over", errno);
        return false;
    }
    m_hReserve.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
    m_hListen = std::move(hListen);
    m_strPath.clear();
    return true;
}

void CDeviceServer::Shutdown() {
    m_handler.DetachAll();
    m_connections.clear();
    if (!m_hListen.IsValid())
        return;
    m_hListen.Reset();
    if (m_strPath.empty())
        return;
    // Only our own socket: a driver started after us may have replaced it.
    struct stat status {};
    if (lstat(m_strPath.c_str(), &status) == 0 && status.st_dev == m_socketDevice &&
        status.st_ino == m_socketInode)
        unlink(m_strPath.c_str());
}

void CDeviceServer::Run(int hStopFd) {
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{m_hListen.Get(), POLLIN, 0},
                    {hStopFd, POLLIN, 0},
                    {m_table.WakeFd(), POLLIN, 0},
                    {m_handler.WakeFd(), POLLIN, 0}});
        constexpr std::size_t FIRST_CONNECTION = 4;
        for (const auto& pConnection : m_connections)
            fds.push_back({pConnection->m_hSocket.Get(),
                           short(pConnection->m_parked.IsParked() ? 0 : POLLIN), 0});
        // Timed out: an attach's check is to be given up on.
        if (poll(fds.data(), fds.size(), m_handler.PollTimeout()) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[2].revents != 0)
            m_table.ClearWake();
        if (fds[3].revents != 0)
            m_handler.ClearWake();

        // Hang-ups first: a client's close happens before whatever another
        // client sends after it, so its attachments are gone by then.
        for (std::size_t i = 0; i < m_connections.size(); ++i) {
            if (fds[FIRST_CONNECTION + i].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                m_connections[i]->m_hSocket.Reset();
                m_handler.DetachConnection(m_connections[i]->m_qwId);
            }
        }
        for (std::size_t i = 0; i < m_connections.size(); ++i) {
            auto& connection = *m_connections[i];
            if (connection.m_hSocket.IsValid() && (fds[FIRST_CONNECTION + i].revents & POLLIN) &&
                !ServeRequest(connection))
                connection.m_hSocket.Reset();
        }
        DropClosed();
        if (fds[0].revents & POLLIN)
            Accept();
        AnswerParkedWaits();
    }
}

// The kernel refuses a message longer than the socket's send buffer less 32
// bytes, and the default buffer is under a whole batch. Where the system
// caps the buffer lower, this client's batches are smaller.
static std::size_t AnswerLimit(int hSocket) {
    const int nWanted = int(Vantry::MAX_BATCH_SIZE + 64 * 1024);
    setsockopt(hSocket, SOL_SOCKET, SO_SNDBUF, &nWanted, sizeof nWanted);
    int nBuffer = 0;
    socklen_t nSize = sizeof nBuffer;
    if (getsockopt(hSocket, SOL_SOCKET, SO_SNDBUF, &nBuffer, &nSize) != 0 || nBuffer < 64)
        return 0;
    return std::min(Vantry::MAX_BATCH_SIZE, std::size_t(nBuffer) - 32 - Vantry::ANSWER_HEADER_SIZE);
}

void CDeviceServer::Accept() {
    for (;;) {
        CScopedFd hSocket(accept4(m_hListen.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!hSocket.IsValid() && (errno == EMFILE || errno == ENFILE) && m_hReserve.IsValid()) {
            // Out of descriptors (which accept4 says even when no connection
            // waits): a waiting one would stay in the backlog and wake every
            // poll. The reserve makes room to take it and close it.
            m_hReserve.Reset();
            const bool bTaken =
                CScopedFd(accept4(m_hListen.Get(), nullptr, nullptr, SOCK_CLOEXEC)).IsValid();
            m_hReserve.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
            if (bTaken)
                continue;
            return;
        }
        if (!hSocket.IsValid())
            return;
        auto pConnection = std::make_unique<CConnection>();
        if (CPeer::FromSocket(hSocket.Get(), pConnection->m_peer) != 0 ||
            !HasRoomFor(pConnection->m_peer))
            continue;
        pConnection->m_nAnswerLimit = AnswerLimit(hSocket.Get());
        pConnection->m_hSocket = std::move(hSocket);
        pConnection->m_qwId = m_qwNextConnection++;
        m_connections.push_back(std::move(pConnection));
    }
}

bool CDeviceServer::HasRoomFor(const CPeer& peer) const {
    if (peer.m_uid == 0)
        return true;
    const auto nOfUser =
        std::count_if(m_connections.begin(), m_connections.end(),
                      [&](const auto& p) { return p->m_peer.m_uid == peer.m_uid; });
    return m_connections.size() < MAX_CONNECTIONS &&
           std::size_t(nOfUser) < MAX_CONNECTIONS_PER_USER;
}

bool CDeviceServer::ServeRequest(CConnection& connection) {
    iovec vector{m_request.data(), m_request.size()};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    const ssize_t nRead = recvmsg(connection.m_hSocket.Get(), &message, MSG_DONTWAIT);
    if (nRead < 0)
        return errno == EAGAIN || errno == EINTR;
    // A zero-length read without a hang-up is an empty request.
    const std::span<const std::uint8_t> request(m_request.data(), std::size_t(nRead));
    const auto answer =
        m_handler.Handle(connection.m_peer, request, (message.msg_flags & MSG_TRUNC) != 0,
                         connection.m_nAnswerLimit, connection.m_parked);
    return !answer || Send(connection, *answer);
}

// A client that sends requests without reading the answers fills its own
// receive queue; it breaks the protocol and is dropped rather than waited for.
bool CDeviceServer::Send(CConnection& connection, const CAnswer& answer) {
    std::uint8_t status[Vantry::ANSWER_HEADER_SIZE];
    Vantry::PutU32(status, answer.dwStatus);
    iovec vectors[2] = {{status, sizeof status},
                        {const_cast<std::uint8_t*>(answer.output.data()), answer.output.size()}};
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = answer.output.empty() ? 1 : 2;
    return sendmsg(connection.m_hSocket.Get(), &message, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0;
}

void CDeviceServer::AnswerParkedWaits() {
    for (auto& pConnection : m_connections) {
        if (!pConnection->m_parked.IsParked())
            continue;
        const auto answer =
            m_handler.Resume(pConnection->m_peer, pConnection->m_qwId, pConnection->m_parked);
        if (!answer)
            continue;
        pConnection->m_parked = CParkedWait{};
        if (!Send(*pConnection, *answer))
            pConnection->m_hSocket.Reset();
    }
    DropClosed();
}

void CDeviceServer::DropClosed() {
    std::erase_if(m_connections, [&](const auto& pConnection) {
        if (pConnection->m_hSocket.IsValid())
            return false;
        m_handler.DetachConnection(pConnection->m_qwId);
        return true;
    });
}
