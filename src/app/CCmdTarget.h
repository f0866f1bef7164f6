// An object on the command route. Each class lists its commands in a table
// of (id, command handler, update handler) rows and chains to its base, so
// adding a command to a class is one row plus its handlers.
#pragma once

#include "CCmdUI.h"

#include <span>

enum class ECmdMsg {
    Command, // run the command
    Update,  // run the update handler
    Query,   // only say whether a command handler exists
};

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;

    // True when this object has a handler of the asked kind for nID (and, for
    // Command and Update, has run it). pCmdUI is used by Update only.
    virtual bool OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) {
        (void)nID;
        (void)eMsg;
        (void)pCmdUI;
        return false;
    }
};

template <class T> struct CCommandEntry {
    UINT nID;
    void (T::*pfnCommand)();       // nullptr: no command handler here
    void (T::*pfnUpdate)(CCmdUI*); // nullptr: no update handler here
};

template <class T>
bool DispatchCmdMsg(T* pThis, std::span<const CCommandEntry<T>> map, UINT nID, ECmdMsg eMsg,
                    CCmdUI* pCmdUI) {
    for (const auto& entry : map) {
        if (entry.nID != nID)
            continue;
        switch (eMsg) {
        case ECmdMsg::Command:
            if (entry.pfnCommand == nullptr)
                return false;
            (pThis->*entry.pfnCommand)();
            return true;
        case ECmdMsg::Update:
            if (entry.pfnUpdate == nullptr)
                return false;
            (pThis->*entry.pfnUpdate)(pCmdUI);
            return true;
        case ECmdMsg::Query:
            return entry.pfnCommand != nullptr;
        }
    }
    return false;
}
