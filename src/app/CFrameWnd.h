// What the document core asks of a window that shows a document's views.
// The monitor window implements it; the core never sees a widget.
#pragma once

#include "CCmdTarget.h"

class CFrameWnd : public CCmdTarget {
public:
    // The window's title follows its document's.
    virtual void OnUpdateFrameTitle() = 0;
    // Shows the window and gives the focus to its active view.
    virtual void ActivateFrame() = 0;
    // The views leave the document at once; the window itself may go later.
    virtual void DestroyFrame() = 0;
};
