// The record that names a process to an attachment: its pid, real uid,
// command name and executable, read from /proc as the record is made. A
// process already gone keeps the name its source saw, if any, and no path.
#pragma once

#include "CAttachment.h"
#include "IEventSource.h"

namespace ProcessRecord {

// Whether the event's process is one to name: a real process whose traffic
// the event is (a notice for every viewer names no process's traffic).
bool IsNameable(const CPortEvent& event);
// The CAPTURE_PROCESS record of the event's process, with its time.
CSharedRecord Make(const CPortEvent& event);

} // namespace ProcessRecord
