// Log lines for refused requests, which any user can cause as fast as the
// device answers: each user gets a few lines per window, and how many were
// left out goes with the next line written for that user, or at the end.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

class CRefusalLog {
public:
    static constexpr int LINES_PER_WINDOW = 10;
    static constexpr std::chrono::seconds WINDOW{10};

    CRefusalLog() = default;
    ~CRefusalLog();
    CRefusalLog(const CRefusalLog&) = delete;
    CRefusalLog& operator=(const CRefusalLog&) = delete;

    void Log(uid_t uid, const std::string& strMessage, int nError);

private:
    struct CUser {
        std::chrono::steady_clock::time_point m_windowStart;
        int m_nLines = 0;
        std::uint64_t m_qwLeftOut = 0;
    };
    // Users whose window is over and who lost no line are forgotten, so
    // this stays as small as the users who refused lately.
    void Prune(std::chrono::steady_clock::time_point now);
    static std::string LeftOut(uid_t uid, std::uint64_t qwCount);

    std::unordered_map<uid_t, CUser> m_users;
};
