#include "CDocument.h"

#include "CChildFrame.h"
#include "CMultiDocTemplate.h"
#include "CView.h"
#include "Resource.h"

#include <algorithm>

CDocument::~CDocument() {
    // Views outlive a document only while their window waits to be deleted.
    for (CView* pView : std::vector(m_views))
        pView->SetDocument(nullptr);
}

void CDocument::SetTitle(const QString& strTitle) {
    m_strTitle = strTitle;
    for (CChildFrame* pFrame : GetFrames())
        pFrame->OnUpdateFrameTitle();
}

void CDocument::AddView(CView* pView) {
    m_views.push_back(pView);
}

void CDocument::RemoveView(CView* pView) {
    std::erase(m_views, pView);
}

std::vector<CChildFrame*> CDocument::GetFrames() const {
    std::vector<CChildFrame*> frames;
    for (const CView* pView : m_views) {
        CChildFrame* pFrame = pView->GetParentFrame();
        if (pFrame != nullptr && std::ranges::find(frames, pFrame) == frames.end())
            frames.push_back(pFrame);
    }
    return frames;
}

void CDocument::OnCloseDocument() {
    for (CChildFrame* pFrame : GetFrames())
        pFrame->DestroyFrame();
    if (m_pDocTemplate != nullptr)
        m_pDocTemplate->RemoveDocument(this); // deletes this
}

void CDocument::OnCloseFrame(CChildFrame* pFrame) {
    if (GetFrames().size() > 1) {
        pFrame->DestroyFrame();
        return;
    }
    if (SaveModified())
        OnCloseDocument();
}

bool CDocument::OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) {
    static constexpr CCommandEntry<CDocument> MAP[] = {
        {ID_FILE_CLOSE, &CDocument::OnFileClose, nullptr},
    };
    return DispatchCmdMsg<CDocument>(this, MAP, nID, eMsg, pCmdUI);
}

void CDocument::OnFileClose() {
    if (SaveModified())
        OnCloseDocument();
}
