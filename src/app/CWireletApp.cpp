#include "CWireletApp.h"

#include "CChildFrame.h"
#include "CMainFrame.h"
#include "CMessageBox.h"
#include "CMultiDocTemplate.h"
#include "CWireletDoc.h"
#include "DriverService.h"

#include <QMdiArea>

namespace {

CWireletApp* s_pApp = nullptr;

} // namespace

CWireletApp* AfxGetApp() {
    return s_pApp;
}

CWireletApp::CWireletApp() {
    s_pApp = this;
}

// Monitors end before the main window and the device go, so that no reader
// thread outlives what it uses.
CWireletApp::~CWireletApp() {
    if (m_pDocTemplate)
        m_pDocTemplate->CloseAllDocuments();
    g_pDocTemplate = nullptr;
    m_pDocTemplate.reset();
    m_pMainWnd.reset();
    if (s_pApp == this)
        s_pApp = nullptr;
}

bool CWireletApp::InitInstance() {
    m_pMainWnd = std::make_unique<CMainFrame>();
    m_pDocTemplate = std::make_unique<CMultiDocTemplate>(
        QStringLiteral("Wirelet"), [] { return std::make_unique<CWireletDoc>(); },
        [this](CDocument* pDocument) {
            auto* pFrame = new CChildFrame(pDocument);
            m_pMainWnd->GetMdiArea().addSubWindow(pFrame);
            return pFrame;
        });
    g_pDocTemplate = m_pDocTemplate.get();
    m_pMainWnd->show();
    return EnsureDriver(AfxMessages()) == EStartup::Continue;
}

void CWireletApp::ExitInstance() {
    StopDriver();
}
