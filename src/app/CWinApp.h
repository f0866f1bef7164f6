// The application core: the document template, the recent files of the
// profile and the commands that need no window (New, Open, the recent
// files). The program's own application object adds its start-up, its
// windows and its dialogs on top.
#pragma once

#include "CCmdTarget.h"
#include "CRecentFileList.h"

#include <QString>

#include <memory>

class CDocument;
class CMultiDocTemplate;

class CWinApp : public CCmdTarget {
public:
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    ~CWinApp() override;

    // The one template through which documents and their windows are made.
    void AddDocTemplate(std::unique_ptr<CMultiDocTemplate> pTemplate);
    CRecentFileList& GetRecentFileList() { return m_recentFiles; }
    // The recent files from the per-user profile, and back into it.
    void LoadStdProfileSettings();
    void SaveStdProfileSettings() const;

    bool OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) override;
    // A monitor window without a port: no attachment, no reader, nothing to stop.
    void OnFileNew();
    void OnFileOpen();
    // Opens a file as a monitor window without a port, titled after the
    // file; nullptr when it cannot be read, which has then been reported.
    CDocument* OpenDocumentFile(const QString& strPath);

    // Asks the user for a file to open (bOpenFileDialog) or to save to,
    // strFileName proposed; false when the user cancelled.
    virtual bool DoPromptFileName(QString& strFileName, UINT nIDSTitle, bool bOpenFileDialog) = 0;

protected:
    // Closes every document, so that no reader thread outlives what it uses.
    void CloseAllDocuments();

private:
    void OnOpenRecentFile(int nIndex);

    std::unique_ptr<CMultiDocTemplate> m_pDocTemplate;
    CRecentFileList m_recentFiles;
};

// The application object; nullptr while there is none.
CWinApp* AfxGetApp();
