#include "Resource.h"

#include <algorithm>

namespace {

struct CStringEntry {
    UINT nID;
    const char* pszText;
};

// In id order, for the binary search below.
constexpr CStringEntry STRINGS[] = {
    {IDR_MAINFRAME, "wirelet---V2.0   https://wirelet.dev/"},
    {IDR_WIRELETTYPE, "\nWirelet\nWirelet\n\n\nWirelet.Document\nWirelet Document"},
    {ID_SHOW_RECV, "显示或隐藏接收窗口\n接收窗口"},
    {ID_SHOW_SEND, "显示或隐藏发送窗口\n发送窗口"},
    {ID_CLEAR_RECV, "清除接收窗口数据\n清除接收"},
    {ID_CLEAR_SEND, "清除发送窗口数据\n清除发送"},
    {ID_REMOVE_DRIVER, "移除串口监视驱动\n移除驱动"},
    {ID_VIEW_TIMELINE, "按时间顺序显示两个方向的数据、进程和端口事件\n时间线"},
    {IDS_APP_NAME, "wirelet"},
    {AFX_IDS_IDLEMESSAGE, "就绪"},
    {ID_FILE_NEW, "建立新文档\n新建"},
    {ID_FILE_OPEN, "打开一个现有文档\n打开"},
    {ID_FILE_CLOSE, "关闭活动文档\n关闭"},
    {ID_FILE_SAVE, "保存活动文档\n保存"},
    {ID_FILE_SAVE_AS, "将活动文档以一个新文件名保存\n另存为"},
    {ID_FILE_PRINT_SETUP, "改变打印机及打印选项\n打印设置"},
    {ID_FILE_PRINT, "打印活动文档\n打印"},
    {ID_FILE_PRINT_PREVIEW, "显示整页\n打印预览"},
    {ID_FILE_MRU_FILE1, "打开该文档"},
    {ID_EDIT_COPY, "复制被选对象并将其置于剪贴板上\n复制"},
    {ID_EDIT_CUT, "剪切被选对象并将其置于剪贴板上\n剪切"},
    {ID_EDIT_PASTE, "插入剪贴板内容\n粘贴"},
    {ID_EDIT_SELECT_ALL, "选择整个文档\n全选"},
    {ID_EDIT_UNDO, "撤消最后一步操作\n撤消"},
    {ID_WINDOW_NEW, "为活动文档打开另一个窗口\n新建窗口"},
    {ID_WINDOW_ARRANGE, "将图标排列在窗口底部\n排列图标"},
    {ID_WINDOW_CASCADE, "排列窗口成相互重叠\n层叠窗口"},
    {ID_WINDOW_TILE_HORZ, "排列窗口成互不重叠\n平铺窗口"},
    {ID_WINDOW_TILE_VERT, "排列窗口成互不重叠\n平铺窗口"},
    {ID_APP_ABOUT, "显示程序信息，版本号和版权\n关于"},
    {ID_APP_EXIT, "退出应用程序；提示保存文档\n退出"},
    {ID_NEXT_PANE, "切换到下一个窗格\n下一窗格"},
    {ID_PREV_PANE, "切换回前一个窗格\n前一窗格"},
    {ID_INDICATOR_CAPS, "大写"},
    {ID_INDICATOR_NUM, "数字"},
    {ID_INDICATOR_SCRL, "滚动"},
    {ID_VIEW_TOOLBAR, "显示或隐藏工具栏\n显隐工具栏"},
    {ID_VIEW_STATUS_BAR, "显示或隐藏状态栏\n显隐状态栏"},
    {AFX_IDS_OPENFILE, "打开"},
    {AFX_IDS_SAVEFILE, "保存为"},
    {AFX_IDS_ALLFILTER, "所有文件 (*.*)"},
    {SC_CLOSE, "关闭活动窗口\n关闭窗口"},
};

} // namespace

const char* LoadResourceString(UINT nID) {
    static_assert(std::ranges::is_sorted(STRINGS, {}, &CStringEntry::nID));
    const auto it = std::ranges::lower_bound(STRINGS, nID, {}, &CStringEntry::nID);
    return it != std::end(STRINGS) && it->nID == nID ? it->pszText : nullptr;
}
