#include "AfxMessages.h"

#include <cstdio>

namespace {

IMessageBox* s_pMessages = nullptr;

class CStandardErrorBox : public IMessageBox {
public:
    void ShowWarning(const std::string& strText) override {
        std::fprintf(stderr, "wirelet: %s\n", strText.c_str());
    }
};

} // namespace

IMessageBox& AfxMessages() {
    static CStandardErrorBox s_standardError;
    return s_pMessages != nullptr ? *s_pMessages : s_standardError;
}

void SetAfxMessages(IMessageBox* pMessages) {
    s_pMessages = pMessages;
}
