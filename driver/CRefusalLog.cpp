#include "CRefusalLog.h"

#include "DriverLog.h"

CRefusalLog::~CRefusalLog() {
    for (const auto& [uid, user] : m_users)
        if (user.m_qwLeftOut != 0)
            ::Log(LeftOut(uid, user.m_qwLeftOut));
}

std::string CRefusalLog::LeftOut(uid_t uid, std::uint64_t qwCount) {
    return std::to_string(qwCount) + " more refusals to uid " + std::to_string(uid) + " not logged";
}

void CRefusalLog::Log(uid_t uid, const std::string& strMessage, int nError) {
    const auto now = std::chrono::steady_clock::now();
    if (m_users.size() > 256)
        Prune(now);
    auto [it, bNew] = m_users.try_emplace(uid);
    CUser& user = it->second;
    if (bNew || now - user.m_windowStart >= WINDOW) {
        user.m_windowStart = now;
        user.m_nLines = 0;
    }
    if (user.m_nLines >= LINES_PER_WINDOW) {
        ++user.m_qwLeftOut;
        return;
    }
    ++user.m_nLines;
    std::string strLine = strMessage;
    if (user.m_qwLeftOut != 0)
        strLine = "(" + LeftOut(uid, user.m_qwLeftOut) + ") " + strLine;
    user.m_qwLeftOut = 0;
    ::Log(strLine, nError);
}

void CRefusalLog::Prune(std::chrono::steady_clock::time_point now) {
    std::erase_if(m_users, [&](const auto& entry) {
        return entry.second.m_qwLeftOut == 0 && now - entry.second.m_windowStart >= WINDOW;
    });
}
