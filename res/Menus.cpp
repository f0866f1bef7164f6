#include "Resource.h"

namespace {

constexpr CMenuItem FILE_MENU_MONITOR[] = {
    {ID_FILE_CLOSE, "关闭(&C)"},
    {ID_FILE_SAVE, "保存(&S)\tCtrl+S"},
};
constexpr CMenuItem SETTINGS_MENU[] = {
    {ID_REMOVE_DRIVER, "移除驱动(&R)"},
};

constexpr CMenuPopup MAINFRAME[] = {
    {"设置(&S)", SETTINGS_MENU},
};
constexpr CMenuPopup WIRELETTYPE[] = {
    {"文件(&F)", FILE_MENU_MONITOR},
    {"设置(&S)", SETTINGS_MENU},
};

constexpr UINT TOOLBAR[] = {
    ID_FILE_SAVE, ID_SEPARATOR, IDC_PORT_COMBO, ID_SEPARATOR,  ID_SHOW_RECV,
    ID_SHOW_SEND, ID_SEPARATOR, ID_CLEAR_RECV,  ID_CLEAR_SEND,
};

constexpr CAccelerator KEYS[] = {
    {"Ctrl+S", ID_FILE_SAVE},
    {"F6", ID_NEXT_PANE},
    {"Shift+F6", ID_PREV_PANE},
};

} // namespace

const std::span<const CMenuPopup> MENU_MAINFRAME = MAINFRAME;
const std::span<const CMenuPopup> MENU_WIRELETTYPE = WIRELETTYPE;
const std::span<const UINT> TOOLBAR_MAINFRAME = TOOLBAR;
const std::span<const CAccelerator> ACCELERATORS = KEYS;
