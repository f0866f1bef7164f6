// SIGINT, SIGTERM and SIGHUP (a terminal's Ctrl+C or hang-up, the session
// ending) would otherwise kill the program outright and leave the driver it
// started running as root. They become one call on the user-interface
// thread instead: the handler only writes a byte to a pipe, which a socket
// notifier reads there.
#pragma once

#include "CScopedFd.h"

#include <QObject>

#include <functional>

class QSocketNotifier;

class CQuitSignals : public QObject {
public:
    explicit CQuitSignals(std::function<void()> onQuit);
    ~CQuitSignals() override;

    // True once a signal came, even before an event loop could run.
    bool IsSignalled() const { return m_bSignalled; }

private:
    void OnSignal();

    CScopedFd m_hRead;
    CScopedFd m_hWrite;
    QSocketNotifier* m_pNotifier = nullptr;
    std::function<void()> m_onQuit;
    bool m_bSignalled = false;
};
