#include "CPaneView.h"
#include "Resource.h"

bool CPaneView::OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) {
    static constexpr CCommandEntry<CPaneView> MAP[] = {
        {ID_FILE_SAVE, &CPaneView::OnFileSave, nullptr},
        {ID_EDIT_COPY, &CPaneView::Copy, &CPaneView::OnUpdateEditCopy},
        {ID_EDIT_SELECT_ALL, &CPaneView::SelectAll, nullptr},
    };
    return DispatchCmdMsg<CPaneView>(this, MAP, nID, eMsg, pCmdUI);
}

void CPaneView::OnUpdateEditCopy(CCmdUI* pCmdUI) {
    pCmdUI->Enable(HasSelection());
}
