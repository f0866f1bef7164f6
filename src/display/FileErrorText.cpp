#include "FileErrorText.h"

#include <cerrno>

namespace FileErrorText {

namespace {

constexpr int FIRST_ID = 61856;
constexpr std::string_view TEXTS[] = {
    "无错误发生。",
    "在对 %1 进行访问时发生了一个不明错误。",
    "没有找到 %1。",
    "%1 中包含无效的路径。",
    "无法打开 %1 因为太多文件已被打开。",
    "对 %1 的存取被拒绝。",
    "一个无效的文件柄与 %1 相关联。",
    "无法删除 %1 因为它是当前目录。",
    "该目录已满，无法创建 %1。",
    "对 %1 进行查找失败。",
    "在存取 %1 时一个硬件输入/输出错误被报告。",
    "在存取 %1 时发生共享违例。",
    "在存取 %1 时发生锁违例。",
    "在存取 %1 时磁盘已满。",
    "试图越过其尾端对 %1 进行读写。",
};

} // namespace

// Creating a file makes its last component, so a missing name is a missing
// folder on the way to it: an invalid path. A folder chosen as the file is
// refused access, as the framework's platform refuses it.
int CauseId(int nErrno) {
    switch (nErrno) {
    case 0:
        return 61856;
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return 61859;
    case EMFILE:
    case ENFILE:
        return 61860;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return 61861;
    case EBADF:
        return 61862;
    case EIO:
        return 61866;
    case EBUSY:
    case ETXTBSY:
        return 61867;
    case ENOLCK:
        return 61868;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return 61869;
    default:
        return 61857;
    }
}

std::string_view Text(int nId) {
    const int nIndex = nId - FIRST_ID;
    if (nIndex < 0 || nIndex >= static_cast<int>(std::size(TEXTS)))
        return TEXTS[1];
    return TEXTS[nIndex];
}

std::string Message(int nErrno, std::string_view strPath) {
    std::string strText(Text(CauseId(nErrno)));
    if (const auto nAt = strText.find("%1"); nAt != std::string::npos)
        strText.replace(nAt, 2, strPath);
    return strText;
}

} // namespace FileErrorText
