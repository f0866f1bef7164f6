// Offers a command to the objects of the route in order: the active pane,
// its document, the monitor window, the application and the main frame.
#pragma once

#include "CCmdTarget.h"

#include <span>

namespace CCommandRouter {

// True when some object on the route ran the command.
bool Execute(std::span<CCmdTarget* const> route, UINT nID);

// The first update handler on the route decides; when it leaves the enabled
// state alone, the command is enabled exactly when some object on the route
// has a command handler for it.
CCmdUI Update(std::span<CCmdTarget* const> route, UINT nID);

} // namespace CCommandRouter
