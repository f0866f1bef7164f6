#include "Resource.h"

namespace {

constexpr CMenuItem FILE_MENU_MAINFRAME[] = {
    {ID_FILE_PRINT_SETUP, "打印设置(&R)..."},
    {ID_SEPARATOR, nullptr},
    {ID_FILE_MRU_FILE1, "最近文件"},
    {ID_SEPARATOR, nullptr},
    {ID_APP_EXIT, "退出(&X)"},
};
constexpr CMenuItem FILE_MENU_MONITOR[] = {
    {ID_FILE_CLOSE, "关闭(&C)"},
    {ID_FILE_SAVE, "保存(&S)\tCtrl+S"},
    {ID_FILE_SAVE_AS, "另存为(&A)..."},
    {ID_SEPARATOR, nullptr},
    {ID_FILE_PRINT, "打印(&P)...\tCtrl+P"},
    {ID_FILE_PRINT_PREVIEW, "打印预览(&V)"},
    {ID_FILE_PRINT_SETUP, "打印设置(&R)..."},
    {ID_SEPARATOR, nullptr},
    {ID_FILE_MRU_FILE1, "最近文件"},
    {ID_SEPARATOR, nullptr},
    {ID_APP_EXIT, "退出(&X)"},
};
constexpr CMenuItem EDIT_MENU[] = {
    {ID_EDIT_UNDO, "撤消(&U)\tCtrl+Z"},  {ID_SEPARATOR, nullptr},
    {ID_EDIT_CUT, "剪切(&T)\tCtrl+X"},   {ID_EDIT_COPY, "复制(&C)\tCtrl+C"},
    {ID_EDIT_PASTE, "粘贴(&P)\tCtrl+V"},
};
constexpr CMenuItem VIEW_MENU[] = {
    {ID_VIEW_TOOLBAR, "工具栏(&T)"},
    {ID_VIEW_STATUS_BAR, "状态栏(&S)"},
};
constexpr CMenuItem VIEW_MENU_MONITOR[] = {
    {ID_VIEW_TOOLBAR, "工具栏(&T)"},
    {ID_VIEW_STATUS_BAR, "状态栏(&S)"},
    {ID_SEPARATOR, nullptr},
    {ID_VIEW_TIMELINE, "时间线(&L)\tCtrl+T"},
};
constexpr CMenuItem WINDOW_MENU[] = {
    {ID_WINDOW_NEW, "新建窗口(&N)"},
    {ID_WINDOW_CASCADE, "层叠(&C)"},
    {ID_WINDOW_TILE_HORZ, "平铺(&T)"},
    {ID_WINDOW_ARRANGE, "排列图标(&A)"},
};
constexpr CMenuItem SETTINGS_MENU[] = {
    {ID_REMOVE_DRIVER, "移除驱动(&R)"},
};
constexpr CMenuItem HELP_MENU[] = {
    {ID_APP_ABOUT, "关于 wirelet(&A)..."},
};

constexpr CMenuPopup MAINFRAME[] = {
    {"文件(&F)", FILE_MENU_MAINFRAME},
    {"查看(&V)", VIEW_MENU},
    {"设置(&S)", SETTINGS_MENU},
    {"帮助(&H)", HELP_MENU},
};
constexpr CMenuPopup WIRELETTYPE[] = {
    {"文件(&F)", FILE_MENU_MONITOR}, {"编辑(&E)", EDIT_MENU},     {"查看(&V)", VIEW_MENU_MONITOR},
    {"窗口(&W)", WINDOW_MENU, true}, {"设置(&S)", SETTINGS_MENU}, {"帮助(&H)", HELP_MENU},
};

constexpr UINT TOOLBAR[] = {
    ID_FILE_SAVE, ID_SEPARATOR,      IDC_PORT_COMBO,      ID_SEPARATOR,        ID_EDIT_CUT,
    ID_EDIT_COPY, ID_EDIT_PASTE,     ID_SEPARATOR,        ID_FILE_PRINT,       ID_SEPARATOR,
    ID_SHOW_RECV, ID_SHOW_SEND,      ID_SEPARATOR,        ID_CLEAR_RECV,       ID_CLEAR_SEND,
    ID_SEPARATOR, ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ, ID_WINDOW_TILE_VERT, ID_SEPARATOR,
    ID_APP_ABOUT,
};

constexpr CAccelerator KEYS[] = {
    {"Ctrl+N", ID_FILE_NEW},      {"Ctrl+O", ID_FILE_OPEN},   {"Ctrl+S", ID_FILE_SAVE},
    {"Ctrl+P", ID_FILE_PRINT},    {"Ctrl+Z", ID_EDIT_UNDO},   {"Ctrl+X", ID_EDIT_CUT},
    {"Ctrl+C", ID_EDIT_COPY},     {"Ctrl+V", ID_EDIT_PASTE},  {"Alt+Backspace", ID_EDIT_UNDO},
    {"Shift+Del", ID_EDIT_CUT},   {"Ctrl+Ins", ID_EDIT_COPY}, {"Shift+Ins", ID_EDIT_PASTE},
    {"F6", ID_NEXT_PANE},         {"Shift+F6", ID_PREV_PANE}, {"Ctrl+F4", SC_CLOSE},
    {"Ctrl+T", ID_VIEW_TIMELINE},
};

} // namespace

const std::span<const CMenuPopup> MENU_MAINFRAME = MAINFRAME;
const std::span<const CMenuPopup> MENU_WIRELETTYPE = WIRELETTYPE;
const std::span<const UINT> TOOLBAR_MAINFRAME = TOOLBAR;
const std::span<const CAccelerator> ACCELERATORS = KEYS;
