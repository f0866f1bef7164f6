// The two byte-count boxes of the main window, as the formatter sees them.
#pragma once

#include <string_view>

class ICounters {
public:
    virtual ~ICounters() = default;
    virtual void SetRecvCount(std::u16string_view text) = 0;
    virtual void SetSendCount(std::u16string_view text) = 0;
};
