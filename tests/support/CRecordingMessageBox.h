// A message box that records what would have been shown, for tests.
#pragma once

#include "IMessageBox.h"

#include <string>
#include <vector>

class CRecordingMessageBox : public IMessageBox {
public:
    void ShowWarning(const std::string& strText) override { m_messages.push_back(strText); }
    std::vector<std::string> m_messages;
};
