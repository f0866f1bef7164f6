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

// The framework's standard ids, with their standard values.
inline constexpr UINT ID_SEPARATOR = 0;
inline constexpr UINT ID_FILE_CLOSE = 57602;
inline constexpr UINT ID_FILE_SAVE = 57603;
inline constexpr UINT ID_EDIT_COPY = 57634;
inline constexpr UINT ID_EDIT_SELECT_ALL = 57642;
inline constexpr UINT ID_NEXT_PANE = 57680;
inline constexpr UINT ID_PREV_PANE = 57681;

inline constexpr UINT IDR_MAINFRAME = 128;
inline constexpr UINT IDR_WIRELETTYPE = 129;
inline constexpr UINT IDS_APP_NAME = 57344;
inline constexpr UINT AFX_IDS_IDLEMESSAGE = 57345;

struct CMenuItem {
    UINT nID; // ID_SEPARATOR for a separator
    const char* pszText;
};

struct CMenuPopup {
    const char* pszText;
    std::span<const CMenuItem> items;
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
