#include "CCommandRouter.h"

namespace CCommandRouter {

bool Execute(std::span<CCmdTarget* const> route, UINT nID) {
    for (CCmdTarget* pTarget : route) {
        if (pTarget->OnCmdMsg(nID, ECmdMsg::Command, nullptr))
            return true;
    }
    return false;
}

CCmdUI Update(std::span<CCmdTarget* const> route, UINT nID) {
    CCmdUI cmdUI(nID);
    for (CCmdTarget* pTarget : route) {
        if (pTarget->OnCmdMsg(nID, ECmdMsg::Update, &cmdUI))
            break;
    }
    if (!cmdUI.m_bEnableChanged) {
        bool bHandled = false;
        for (CCmdTarget* pTarget : route)
            bHandled = bHandled || pTarget->OnCmdMsg(nID, ECmdMsg::Query, nullptr);
        cmdUI.Enable(bHandled);
    }
    return cmdUI;
}

} // namespace CCommandRouter
