// The box every report of the document core and the windows goes to. The
// program installs its message box; tests install one that records.
#pragma once

#include "IMessageBox.h"

// The installed box; while none is, a report goes to the standard error.
IMessageBox& AfxMessages();
// Installs pMessages (not owned) for the whole process; nullptr removes it.
void SetAfxMessages(IMessageBox* pMessages);
