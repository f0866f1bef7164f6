#include "Resource.h"

#include <algorithm>

namespace {

struct CStringEntry {
    UINT nID;
    const char* pszText;
};

// In id order, for the binary search below.
constexpr CStringEntry STRINGS[] = {
    {IDR_MAINFRAME, "wirelet"},
    {IDR_WIRELETTYPE, "\nWirelet\nWirelet\n\n\nWirelet.Document\nWirelet Document"},
    {ID_SHOW_RECV, "显示或隐藏接收窗口\n接收窗口"},
    {ID_SHOW_SEND, "显示或隐藏发送窗口\n发送窗口"},
    {ID_CLEAR_RECV, "清除接收窗口数据\n清除接收"},
    {ID_CLEAR_SEND, "清除发送窗口数据\n清除发送"},
    {ID_REMOVE_DRIVER, "移除串口监视驱动\n移除驱动"},
    {IDS_APP_NAME, "wirelet"},
    {AFX_IDS_IDLEMESSAGE, "就绪"},
    {ID_FILE_CLOSE, "关闭活动文档\n关闭"},
    {ID_FILE_SAVE, "保存活动文档\n保存"},
    {ID_NEXT_PANE, "切换到下一个窗格\n下一窗格"},
    {ID_PREV_PANE, "切换回前一个窗格\n前一窗格"},
};

} // namespace

const char* LoadResourceString(UINT nID) {
    static_assert(std::ranges::is_sorted(STRINGS, {}, &CStringEntry::nID));
    const auto it = std::ranges::lower_bound(STRINGS, nID, {}, &CStringEntry::nID);
    return it != std::end(STRINGS) && it->nID == nID ? it->pszText : nullptr;
}
