// What a monitor needs of the main window: the counters bar, the status
// bar's notices and the port list. The main window implements it and
// registers itself; without one (tests, the closing program) a monitor
// simply has no one to tell.
#pragma once

#include <QString>

class ICounters;

class IMonitorHost {
public:
    virtual ~IMonitorHost() = default;

    // The totals of the monitor that has the focus.
    virtual ICounters& GetCounters() = 0;
    // A line in the status bar that stays until something else is shown
    // there, or for nTimeoutMs when that is not 0.
    virtual void ShowNotice(const QString& strText, int nTimeoutMs = 0) = 0;
    // What became of a port's capture, said until the port is picked again.
    virtual void ShowPortNotice(const QString& strPortName, const QString& strText) = 0;
    // Offers a closed monitor's port again.
    virtual void AddPortToList(const QString& strPortName) = 0;
};

// The registered host; nullptr while there is none.
IMonitorHost* AfxGetMonitorHost();
void AfxSetMonitorHost(IMonitorHost* pHost);
