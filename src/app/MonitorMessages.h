// The texts a monitor shows in its message boxes.
#pragma once

inline constexpr const char* MSG_CANNOT_MONITOR = "未能打开 %1 监视，端口可能已经被打开！";
inline constexpr const char* MSG_CLOSE_APPLICATIONS =
    "在停止前，你必须关闭所有使用这个端口的应用程序。";
inline constexpr const char* MSG_UNKNOWN_ERROR = "发生未知错误！";
inline constexpr const char* MSG_NO_READ_VIEW = "未能定位CViewRead。";
inline constexpr const char* MSG_NO_WRITE_VIEW = "未能定位CViewWrite。";
