// The program's warning box: a modal QMessageBox with the caption "wirelet",
// the exclamation icon and an OK button, over the active window. Every window
// reports failures through AfxMessages(), so tests can record them instead.
#pragma once

#include "IMessageBox.h"

class CMessageBox : public IMessageBox {
public:
    void ShowWarning(const std::string& strText) override;
    // From a quit signal on, no one may be there to click a box, and what
    // the closing monitors still report comes after the event loop has
    // ended: a warning goes to the standard error, and nothing waits.
    static void SetUnattended();
};

// The box every report goes to: a CMessageBox unless a test installed another.
IMessageBox& AfxMessages();
// Installs pMessages (not owned) for the whole process; null restores the real box.
void SetAfxMessages(IMessageBox* pMessages);
