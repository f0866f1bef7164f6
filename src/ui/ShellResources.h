// The shell's pictures in the Qt resource system: the port toolbar's button
// strip and the two icons.
#pragma once

#include <QIcon>

using UINT = unsigned int;

// Image nIndex of the port toolbar's strip (16 x 20 each).
QIcon ToolBarImage(int nIndex);
// Icon 128 (the program) or 129 (a monitor window).
QIcon ShellIcon(UINT nID);
