// A view of a document: a pane in a monitor window. It belongs to one
// document and sits in one frame.
#pragma once

#include "CCmdTarget.h"

class CDocument;
class CChildFrame;

class CView : public CCmdTarget {
public:
    CView() = default;
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;
    ~CView() override;

    CDocument* GetDocument() const { return m_pDocument; }
    CChildFrame* GetParentFrame() const { return m_pFrame; }

    // Joins the document (leaving the one before, if any); nullptr leaves it.
    void SetDocument(CDocument* pDocument);
    void SetParentFrame(CChildFrame* pFrame) { m_pFrame = pFrame; }

protected:
    // The view joined another document, or left its own.
    virtual void OnDocumentChanged() {}

private:
    CDocument* m_pDocument = nullptr;
    CChildFrame* m_pFrame = nullptr;
};
