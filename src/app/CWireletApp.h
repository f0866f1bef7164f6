// The application object: it makes the document template and the main
// window, opens the driver, and at the exit stops it again.
#pragma once

#include "CCmdTarget.h"

#include <memory>

class CMainFrame;
class CMultiDocTemplate;

class CWireletApp : public CCmdTarget {
public:
    CWireletApp();
    CWireletApp(const CWireletApp&) = delete;
    CWireletApp& operator=(const CWireletApp&) = delete;
    ~CWireletApp() override;

    // False when the program cannot go on; it has then said why.
    bool InitInstance();
    void ExitInstance();

    CMainFrame* GetMainFrame() const { return m_pMainWnd.get(); }

private:
    std::unique_ptr<CMultiDocTemplate> m_pDocTemplate;
    std::unique_ptr<CMainFrame> m_pMainWnd;
};

// The application object; nullptr while there is none.
CWireletApp* AfxGetApp();
