// The application object: it brings the program up in a fixed order (splash,
// profile, document template, main window, platform check, driver) and at
// the exit stops the driver again. Beyond the core's commands it handles
// About, Print Setup and Exit, and asks for file names with the file dialog.
#pragma once

#include "CWinApp.h"

#include <QStringList>

#include <memory>
#include <string>

class CMainFrame;

class CWireletApp : public CWinApp {
public:
    CWireletApp();
    ~CWireletApp() override;

    // False when the program cannot go on; it has then said why, unless the
    // main window could not be made. The command line is accepted and has no
    // effect.
    bool InitInstance(const QStringList& arguments = {});
    void ExitInstance();
    // The program's whole life: start-up, the event loop, the exit. A quit
    // signal at any time ends it as closing the main window would; the
    // result is the program's exit status.
    int Run(const QStringList& arguments);

    CMainFrame* GetMainFrame() const { return m_pMainWnd.get(); }

    bool OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) override;
    void OnAppAbout();
    void OnFilePrintSetup();
    void OnAppExit();
    // A quit signal ends the program as closing its main window does, but
    // without the question: no one may be there to answer it.
    void OnQuitSignal();
    // The file dialog, with all files as its one filter.
    bool DoPromptFileName(QString& strFileName, UINT nIDSTitle, bool bOpenFileDialog) override;

protected:
    // The kernel's name as uname gives it.
    virtual std::string GetPlatformName() const;
    // Where the driver image is installed from: the program's own directory.
    virtual std::string GetProgramDirectory() const;
    // Shows the start-up picture for nMilliseconds.
    virtual void ShowSplash(int nMilliseconds);

private:
    std::unique_ptr<CMainFrame> m_pMainWnd;
};
