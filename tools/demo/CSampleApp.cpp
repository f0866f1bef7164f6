#include "CSampleApp.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <iostream>

namespace {

constexpr int REQUEST_INTERVAL_MS = 1000;
constexpr int REQUESTS_PER_SESSION = 4;

const char* const REQUESTS[] = {"AT\r", "ATI\r", "AT+CSQ\r", "AT+GMM\r", "AT+CSQ\r", "AT+XYZ\r"};

} // namespace

int CSampleApp::Run() {
    static constexpr CLine LINES[] = {{B115200, CS8, false}, {B9600, CS7, true}};
    for (unsigned nSession = 0;; ++nSession) {
        m_hPort.Reset(open(m_strPort.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!m_hPort.IsValid())
            return Fail();
        // The line is set after a first pause: a monitor traces the port's
        // new holder a moment after its open, and should see the change.
        if (!Listen(REQUEST_INTERVAL_MS))
            return m_nStatus;
        if (!SetLine(LINES[nSession % std::size(LINES)]))
            return Fail();
        for (int i = 0; i < REQUESTS_PER_SESSION; ++i) {
            Send(REQUESTS[m_nRequest++ % std::size(REQUESTS)]);
            if (!Listen(REQUEST_INTERVAL_MS))
                return m_nStatus;
        }
        m_hPort.Reset();
    }
}

int CSampleApp::Fail() const {
    std::cerr << "wirelet-demo-app: " << m_strPort << ": " << std::strerror(errno) << "\n";
    return 1;
}

bool CSampleApp::SetLine(const CLine& line) const {
    termios settings{};
    if (tcgetattr(m_hPort.Get(), &settings) != 0)
        return false;
    cfmakeraw(&settings);
    cfsetispeed(&settings, line.nSpeed);
    cfsetospeed(&settings, line.nSpeed);
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    settings.c_cflag |= line.nCharSize | CLOCAL | CREAD | (line.bEvenParity ? PARENB : 0);
    return tcsetattr(m_hPort.Get(), TCSANOW, &settings) == 0;
}

bool CSampleApp::Listen(int nMs) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(nMs);
    for (;;) {
        const auto nLeft = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (nLeft <= 0)
            return true;
        pollfd fds[] = {{m_signals.Get(), POLLIN, 0}, {m_hPort.Get(), POLLIN, 0}};
        if (poll(fds, 2, int(nLeft)) < 0 && errno != EINTR)
            return false;
        if (fds[0].revents != 0)
            return false;
        if (fds[1].revents == 0)
            continue;
        std::array<std::uint8_t, 256> buffer;
        const ssize_t nRead = read(m_hPort.Get(), buffer.data(), buffer.size());
        if (nRead > 0) {
            m_transcript.Add('<', std::span(buffer).first(std::size_t(nRead)));
        } else if (nRead == 0 || errno != EAGAIN) {
            // The far end is gone (the pty's master closed, say).
            errno = nRead == 0 ? EIO : errno;
            m_nStatus = Fail();
            return false;
        }
    }
}

void CSampleApp::Send(const std::string& strRequest) {
    const ssize_t nWritten = write(m_hPort.Get(), strRequest.data(), strRequest.size());
    if (nWritten > 0)
        m_transcript.Add(
            '>', {reinterpret_cast<const std::uint8_t*>(strRequest.data()), std::size_t(nWritten)});
}
