#include "CWinApp.h"

#include "AfxMessages.h"
#include "CDocument.h"
#include "CMultiDocTemplate.h"
#include "CRegularFile.h"
#include "FileErrorText.h"
#include "Resource.h"

#include <QFile>
#include <QSettings>

namespace {
CWinApp* s_pApp = nullptr;
} // namespace

CWinApp* AfxGetApp() {
    return s_pApp;
}

CWinApp::CWinApp() : m_recentFiles(RECENT_FILE_COUNT) {
    s_pApp = this;
}

CWinApp::~CWinApp() {
    CloseAllDocuments();
    g_pDocTemplate = nullptr;
    if (s_pApp == this)
        s_pApp = nullptr;
}

void CWinApp::AddDocTemplate(std::unique_ptr<CMultiDocTemplate> pTemplate) {
    m_pDocTemplate = std::move(pTemplate);
    g_pDocTemplate = m_pDocTemplate.get();
}

void CWinApp::CloseAllDocuments() {
    if (m_pDocTemplate)
        m_pDocTemplate->CloseAllDocuments();
}

// The per-user profile, named by the application and its organisation.
void CWinApp::LoadStdProfileSettings() {
    QSettings profile;
    m_recentFiles.ReadList(profile);
}

void CWinApp::SaveStdProfileSettings() const {
    QSettings profile;
    m_recentFiles.WriteList(profile);
}

bool CWinApp::OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) {
    static constexpr CCommandEntry<CWinApp> MAP[] = {
        {ID_FILE_NEW, &CWinApp::OnFileNew, nullptr},
        {ID_FILE_OPEN, &CWinApp::OnFileOpen, nullptr},
    };
    const int nRecent = static_cast<int>(nID - ID_FILE_MRU_FILE1);
    if (nID >= ID_FILE_MRU_FILE1 && nRecent < RECENT_FILE_COUNT) {
        if (eMsg == ECmdMsg::Command)
            OnOpenRecentFile(nRecent);
        else if (eMsg == ECmdMsg::Update)
            pCmdUI->Enable(nRecent < m_recentFiles.Files().size());
        return true;
    }
    return DispatchCmdMsg<CWinApp>(this, MAP, nID, eMsg, pCmdUI);
}

void CWinApp::OnFileNew() {
    if (m_pDocTemplate)
        m_pDocTemplate->OpenDocumentFile(QString());
}

void CWinApp::OnFileOpen() {
    QString strPath;
    if (DoPromptFileName(strPath, AFX_IDS_OPENFILE, true) && !strPath.isEmpty())
        OpenDocumentFile(strPath);
}

// The document keeps nothing in its file, so opening one only checks that
// it is a regular file that can be read.
CDocument* CWinApp::OpenDocumentFile(const QString& strPath) {
    CRegularFile file;
    if (const int nError = file.OpenToRead(QFile::encodeName(strPath).toStdString())) {
        AfxMessages().ShowWarning(FileErrorText::Message(nError, strPath.toStdString()));
        return nullptr;
    }
    file.Close();
    CDocument* pDocument = m_pDocTemplate ? m_pDocTemplate->OpenDocumentFile(strPath) : nullptr;
    if (pDocument != nullptr)
        m_recentFiles.Add(strPath);
    return pDocument;
}

void CWinApp::OnOpenRecentFile(int nIndex) {
    if (nIndex >= m_recentFiles.Files().size())
        return;
    if (OpenDocumentFile(m_recentFiles.Files()[nIndex]) == nullptr)
        m_recentFiles.Remove(nIndex);
}
