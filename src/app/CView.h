// A view of a document: a pane in a monitor window. It belongs to one
// document and sits in one frame.
#pragma once

#include "CCmdTarget.h"

class CDocument;
class CFrameWnd;

class CView : public CCmdTarget {
public:
    CView() = default;
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;
    ~CView() override;

    CDocument* GetDocument() const { return m_pDocument; }
    CFrameWnd* GetParentFrame() const { return m_pFrame; }

    // Joins the document (leaving the one before, if any); nullptr leaves it.
    void SetDocument(CDocument* pDocument);
    void SetParentFrame(CFrameWnd* pFrame) { m_pFrame = pFrame; }

    // The document changed in a way that concerns its views (lHint says
    // how); pSender is the view that caused it, or nullptr.
    virtual void OnUpdate(CView* pSender, long lHint) {
        (void)pSender;
        (void)lHint;
    }

protected:
    // The view joined another document, or left its own.
    virtual void OnDocumentChanged() {}

private:
    CDocument* m_pDocument = nullptr;
    CFrameWnd* m_pFrame = nullptr;
};
