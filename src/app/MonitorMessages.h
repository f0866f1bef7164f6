// The texts a monitor shows in its message boxes and in the status bar.
#pragma once

inline constexpr const char* MSG_CANNOT_MONITOR = "未能打开 %1 监视，端口可能已经被打开！";
inline constexpr const char* MSG_CLOSE_APPLICATIONS =
    "在停止前，你必须关闭所有使用这个端口的应用程序。";
inline constexpr const char* MSG_UNKNOWN_ERROR = "发生未知错误！";
inline constexpr const char* MSG_NO_READ_VIEW = "未能定位CViewRead。";
inline constexpr const char* MSG_NO_WRITE_VIEW = "未能定位CViewWrite。";
// A monitor's capture ended by itself, and why; the port's name goes before.
inline constexpr const char* MSG_DRIVER_GONE = "驱动已停止运行，捕获已中断";
inline constexpr const char* MSG_CAPTURE_ENDED = "捕获意外中断（%1）";
inline constexpr const char* MSG_PORT_VANISHED = "端口已从系统中消失";
inline constexpr const char* MSG_DRIVER_NOT_RUNNING = "驱动未运行，不能监视 %1";
