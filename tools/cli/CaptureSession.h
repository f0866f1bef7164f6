// What `monitor` and `capture` share: open the driver device, attach to the
// port, hand over every record until Ctrl+C (or SIGTERM) and detach. Driver
// errors are explained in plain words on stderr.
#pragma once

#include "CCaptureRecord.h"
#include "CStopEvent.h"

#include <functional>
#include <string>

// Returns the exit status: 0 after Ctrl+C, SIGTERM or once stop is set, 1 on
// a driver error or when onAttached or onRecord returns false. strWho (such
// as "wirelet-cli capture") prefixes the messages; onAttached gets the port's
// device path once the attach succeeded.
int RunCaptureSession(const std::string& strWho, const std::string& strPort, const CStopEvent& stop,
                      const std::function<bool(const std::string&)>& onAttached,
                      const std::function<bool(const CCaptureRecord&)>& onRecord);
