// Where the capture engine reports a failure to the user: a modal warning
// with the caption "wirelet" and an OK button in the program, a recorder in
// tests.
#pragma once

#include <string>

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Returns once the user has dismissed it. The text is UTF-8.
    virtual void ShowWarning(const std::string& strText) = 0;
};
