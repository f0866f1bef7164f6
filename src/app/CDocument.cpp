#include "CDocument.h"

#include "AfxMessages.h"
#include "CFrameWnd.h"
#include "CMultiDocTemplate.h"
#include "CRegularFile.h"
#include "CView.h"
#include "CWinApp.h"
#include "FileErrorText.h"
#include "Resource.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

CDocument::~CDocument() {
    // Views outlive a document only while their window waits to be deleted.
    for (CView* pView : std::vector(m_views))
        pView->SetDocument(nullptr);
}

void CDocument::SetTitle(const QString& strTitle) {
    m_strTitle = strTitle;
    for (CFrameWnd* pFrame : GetFrames())
        pFrame->OnUpdateFrameTitle();
}

void CDocument::AddView(CView* pView) {
    m_views.push_back(pView);
}

void CDocument::RemoveView(CView* pView) {
    std::erase(m_views, pView);
}

void CDocument::UpdateAllViews(CView* pSender, long lHint) {
    for (CView* pView : m_views)
        if (pView != pSender)
            pView->OnUpdate(pSender, lHint);
}

std::vector<CFrameWnd*> CDocument::GetFrames() const {
    std::vector<CFrameWnd*> frames;
    for (const CView* pView : m_views) {
        CFrameWnd* pFrame = pView->GetParentFrame();
        if (pFrame != nullptr && std::ranges::find(frames, pFrame) == frames.end())
            frames.push_back(pFrame);
    }
    return frames;
}

void CDocument::OnCloseDocument() {
    for (CFrameWnd* pFrame : GetFrames())
        pFrame->DestroyFrame();
    if (m_pDocTemplate != nullptr)
        m_pDocTemplate->RemoveDocument(this); // deletes this
}

void CDocument::OnCloseFrame(CFrameWnd* pFrame) {
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
        {ID_FILE_SAVE_AS, &CDocument::OnFileSaveAs, nullptr},
    };
    return DispatchCmdMsg<CDocument>(this, MAP, nID, eMsg, pCmdUI);
}

void CDocument::OnFileClose() {
    if (SaveModified())
        OnCloseDocument();
}

// A plain file name made from the title: a port's title is its path, and
// offering that path would save into the port.
static QString ProposedFileName(const QString& strTitle) {
    static const QString DEVICES = QStringLiteral("/dev/");
    QString strName = strTitle.startsWith(DEVICES) ? strTitle.mid(DEVICES.size())
                                                   : QFileInfo(strTitle).fileName();
    return strName.replace(u'/', u'-');
}

void CDocument::OnFileSaveAs() {
    CWinApp* pApp = AfxGetApp();
    QString strPath = ProposedFileName(m_strTitle);
    if (pApp == nullptr || !pApp->DoPromptFileName(strPath, AFX_IDS_SAVEFILE, false) ||
        strPath.isEmpty() || !OnSaveDocument(strPath))
        return;
    SetTitle(QFileInfo(strPath).fileName());
    pApp->GetRecentFileList().Add(strPath);
}

// A monitor keeps nothing in its file: the file is created empty.
bool CDocument::OnSaveDocument(const QString& strPath) {
    CRegularFile file;
    int nError = file.OpenToWrite(QFile::encodeName(strPath).toStdString());
    if (nError == 0)
        nError = file.Close();
    if (nError != 0) {
        AfxMessages().ShowWarning(FileErrorText::Message(nError, strPath.toStdString()));
        return false;
    }
    return true;
}
