// The application object: it brings the program up in a fixed order (splash,
// profile, document template, main window, platform check, driver) and at
// the exit stops the driver again. It handles the commands that need no
// window: About, New, Open, the recent files, Print Setup and Exit.
#pragma once

#include "CCmdTarget.h"
#include "CRecentFileList.h"

#include <QStringList>

#include <memory>
#include <string>

class CDocument;
class CMainFrame;
class CMultiDocTemplate;
class QPrinter;

class CWireletApp : public CCmdTarget {
public:
    CWireletApp();
    CWireletApp(const CWireletApp&) = delete;
    CWireletApp& operator=(const CWireletApp&) = delete;
    ~CWireletApp() override;

    // False when the program cannot go on; it has then said why, unless the
    // main window could not be made. The command line is accepted and has no
    // effect.
    bool InitInstance(const QStringList& arguments = {});
    void ExitInstance();

    CMainFrame* GetMainFrame() const { return m_pMainWnd.get(); }
    CRecentFileList& GetRecentFileList() { return m_recentFiles; }
    // The printer that Print Setup configures and Print uses.
    QPrinter& GetPrinter();

    bool OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) override;
    void OnAppAbout();
    void OnFileNew();
    void OnFileOpen();
    void OnFilePrintSetup();
    void OnAppExit();
    // A quit signal ends the program as closing its main window does, but
    // without the question: no one may be there to answer it.
    void OnQuitSignal();
    // Opens a file as a monitor window without a port, titled after the file.
    CDocument* OpenDocumentFile(const QString& strPath);

protected:
    // The kernel's name as uname gives it.
    virtual std::string GetPlatformName() const;
    // Where the driver image is installed from: the program's own directory.
    virtual std::string GetProgramDirectory() const;
    // Shows the start-up picture for nMilliseconds.
    virtual void ShowSplash(int nMilliseconds);

private:
    void OnOpenRecentFile(int nIndex);

    std::unique_ptr<CMultiDocTemplate> m_pDocTemplate;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    std::unique_ptr<QPrinter> m_pPrinter;
    CRecentFileList m_recentFiles;
};

// The application object; nullptr while there is none.
CWireletApp* AfxGetApp();
