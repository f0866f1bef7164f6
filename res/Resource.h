// Resource ids and the resource tables: the command vocabulary as data. A
// command is one row in these tables plus a handler on an object of the
// command route.
#pragma once

#include <span>

using UINT = unsigned int;

// The program's own ids.
inline constexpr UINT ID_SHOW_RECV = 32771;
inline constexpr UINT ID_SHOW_SEND = 32772;
inline constexpr UINT ID_CLEAR_RECV = 32773;
inline constexpr UINT ID_CLEAR_SEND = 32774;
inline constexpr UINT IDC_RECV_LABEL = 32775;
inline constexpr UINT IDC_RECV_COUNT = 32776;
inline constexpr UINT IDC_SEND_LABEL = 32777;
inline constexpr UINT IDC_SEND_COUNT = 32778;
inline constexpr UINT IDC_PORT_COMBO = 32779;
inline constexpr UINT ID_REMOVE_DRIVER = 32780;
// A monitor window shows its timeline instead of its two panes, or back.
inline constexpr UINT ID_VIEW_TIMELINE = 32781;

// The framework's standard ids, with their standard values.
inline constexpr UINT ID_SEPARATOR = 0;
inline constexpr UINT ID_FILE_NEW = 57600;
inline constexpr UINT ID_FILE_OPEN = 57601;
inline constexpr UINT ID_FILE_CLOSE = 57602;
inline constexpr UINT ID_FILE_SAVE = 57603;
inline constexpr UINT ID_FILE_SAVE_AS = 57604;
inline constexpr UINT ID_FILE_PRINT_SETUP = 57606;
inline constexpr UINT ID_FILE_PRINT = 57607;
inline constexpr UINT ID_FILE_PRINT_PREVIEW = 57609;
inline constexpr UINT ID_FILE_MRU_FILE1 = 57616;
inline constexpr UINT ID_EDIT_COPY = 57634;
inline constexpr UINT ID_EDIT_CUT = 57635;
inline constexpr UINT ID_EDIT_PASTE = 57637;
inline constexpr UINT ID_EDIT_SELECT_ALL = 57642;
inline constexpr UINT ID_EDIT_UNDO = 57643;
inline constexpr UINT ID_WINDOW_NEW = 57648;
inline constexpr UINT ID_WINDOW_ARRANGE = 57649;
inline constexpr UINT ID_WINDOW_CASCADE = 57650;
inline constexpr UINT ID_WINDOW_TILE_HORZ = 57651;
inline constexpr UINT ID_WINDOW_TILE_VERT = 57652;
inline constexpr UINT ID_APP_ABOUT = 57664;
inline constexpr UINT ID_APP_EXIT = 57665;
inline constexpr UINT ID_NEXT_PANE = 57680;
inline constexpr UINT ID_PREV_PANE = 57681;
inline constexpr UINT ID_VIEW_TOOLBAR = 59392;
inline constexpr UINT ID_VIEW_STATUS_BAR = 59393;
inline constexpr UINT ID_INDICATOR_CAPS = 59137;
inline constexpr UINT ID_INDICATOR_NUM = 59138;
inline constexpr UINT ID_INDICATOR_SCRL = 59139;
// The system menu's Close, which Ctrl+F4 gives the active monitor window.
inline constexpr UINT SC_CLOSE = 61536;

// The recent-file list's entries; the first stands for the whole list in the
// menus, greyed while the list is empty.
inline constexpr int RECENT_FILE_COUNT = 4;

inline constexpr UINT IDR_MAINFRAME = 128;
inline constexpr UINT IDR_WIRELETTYPE = 129;
inline constexpr UINT IDS_APP_NAME = 57344;
inline constexpr UINT AFX_IDS_IDLEMESSAGE = 57345;
inline constexpr UINT AFX_IDS_OPENFILE = 61440;
inline constexpr UINT AFX_IDS_SAVEFILE = 61441;
inline constexpr UINT AFX_IDS_ALLFILTER = 61442;

// The version block: the application's version, name and description.
inline constexpr const char* VERSION_STRING = "1.0.0.1";
inline constexpr const char* VERSION_FILE_DESCRIPTION = "wirelet Microsoft 基础类应用程序";
inline constexpr const char* VERSION_PRODUCT_NAME = "wirelet 应用程序";
inline constexpr const char* IDS_APP_NAME_TEXT = "wirelet";
inline constexpr const char* PROFILE_ORGANIZATION = "Local AppWizard-Generated Applications";

struct CMenuItem {
    UINT nID; // ID_SEPARATOR for a separator
    const char* pszText;
};

struct CMenuPopup {
    const char* pszText;
    std::span<const CMenuItem> items;
    bool bWindowList = false; // the open monitor windows follow the items
};

struct CAccelerator {
    const char* pszKeys; // in QKeySequence's portable text
    UINT nID;
};

// Menu 128 while no monitor window is open, menu 129 while one is active.
extern const std::span<const CMenuPopup> MENU_MAINFRAME;
extern const std::span<const CMenuPopup> MENU_WIRELETTYPE;
// The port toolbar's entries in order; ID_SEPARATOR is a separator.
extern const std::span<const UINT> TOOLBAR_MAINFRAME;
extern const std::span<const CAccelerator> ACCELERATORS;

// The string table: nullptr for an id without a string. A command's string
// is its status-bar prompt, a line feed and its tooltip.
const char* LoadResourceString(UINT nID);
