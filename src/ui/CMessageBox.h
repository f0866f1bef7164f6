// The program's warning box: a modal QMessageBox with the caption "wirelet",
// the exclamation icon and an OK button, over the active window. The program
// installs it as AfxMessages(), so tests can record the reports instead.
#pragma once

#include "AfxMessages.h"

class CMessageBox : public IMessageBox {
public:
    void ShowWarning(const std::string& strText) override;
    // From a quit signal on, no one may be there to click a box, and what
    // the closing monitors still report comes after the event loop has
    // ended: a warning goes to the standard error, and nothing waits.
    static void SetUnattended();
};
