#include "CWireletApp.h"

#include "CAboutDlg.h"
#include "CChildFrame.h"
#include "CMainFrame.h"
#include "CMessageBox.h"
#include "CMultiDocTemplate.h"
#include "CRegularFile.h"
#include "CSplashWnd.h"
#include "CWireletDoc.h"
#include "CaptureSourceText.h"
#include "DriverDevice.h"
#include "DriverService.h"
#include "FileErrorText.h"
#include "Resource.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QPrintDialog>
#include <QPrinter>

#include <sys/utsname.h>

namespace {

CWireletApp* s_pApp = nullptr;

constexpr int SPLASH_MS = 3000;
constexpr int CAPTURE_SOURCE_MS = 5000;
constexpr const char* MSG_WRONG_PLATFORM = "本程序只能运行在 Linux 平台！";

QString ResourceText(UINT nID) {
    return QString::fromUtf8(LoadResourceString(nID));
}

} // namespace

CWireletApp* AfxGetApp() {
    return s_pApp;
}

CWireletApp::CWireletApp() : m_recentFiles(RECENT_FILE_COUNT) {
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

bool CWireletApp::InitInstance(const QStringList& arguments) {
    // Whatever the command line asks for (a file, a print), nothing is done.
    (void)arguments;
    ShowSplash(SPLASH_MS);

    QApplication::setApplicationName(QString::fromUtf8(IDS_APP_NAME_TEXT));
    QApplication::setOrganizationName(QString::fromUtf8(PROFILE_ORGANIZATION));
    QApplication::setApplicationVersion(QString::fromUtf8(VERSION_STRING));
    qApp->setProperty("FileDescription", QString::fromUtf8(VERSION_FILE_DESCRIPTION));
    qApp->setProperty("ProductName", QString::fromUtf8(VERSION_PRODUCT_NAME));
    // The per-user profile, named by the organisation and application above.
    QSettings profile;
    m_recentFiles.ReadList(profile);

    m_pDocTemplate = std::make_unique<CMultiDocTemplate>(
        ResourceText(IDR_WIRELETTYPE).section(u'\n', 1, 1),
        [] { return std::make_unique<CWireletDoc>(); },
        [this](CDocument* pDocument) {
            auto* pFrame = new CChildFrame(pDocument);
            m_pMainWnd->GetMdiArea().addSubWindow(pFrame);
            return pFrame;
        });
    g_pDocTemplate = m_pDocTemplate.get();

    m_pMainWnd = std::make_unique<CMainFrame>();
    m_pMainWnd->show();

    if (GetPlatformName() != "Linux") {
        AfxMessages().ShowWarning(MSG_WRONG_PLATFORM);
        return false;
    }
    if (EnsureDriver(AfxMessages(), GetProgramDirectory()) != EStartup::Continue)
        return false;
    // Which capture runs decides what can be missed, so it is said once.
    if (const auto strSource = g_hDevice.CaptureSource())
        m_pMainWnd->ShowNotice(QString::fromStdString(CaptureSourceText::Describe(*strSource)),
                               CAPTURE_SOURCE_MS);
    return true;
}

void CWireletApp::ExitInstance() {
    // A quit signal ends the event loop with the monitors still open; they
    // end here, before the driver they read from stops.
    if (m_pDocTemplate)
        m_pDocTemplate->CloseAllDocuments();
    StopDriver();
    QSettings profile;
    m_recentFiles.WriteList(profile);
}

std::string CWireletApp::GetPlatformName() const {
    utsname name{};
    return uname(&name) == 0 ? name.sysname : "";
}

std::string CWireletApp::GetProgramDirectory() const {
    return QCoreApplication::applicationDirPath().toStdString();
}

void CWireletApp::ShowSplash(int nMilliseconds) {
    CSplashWnd::ShowSplashScreen(nMilliseconds);
}

QPrinter& CWireletApp::GetPrinter() {
    if (!m_pPrinter)
        m_pPrinter = std::make_unique<QPrinter>();
    return *m_pPrinter;
}

bool CWireletApp::OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) {
    static constexpr CCommandEntry<CWireletApp> MAP[] = {
        {ID_APP_ABOUT, &CWireletApp::OnAppAbout, nullptr},
        {ID_FILE_NEW, &CWireletApp::OnFileNew, nullptr},
        {ID_FILE_OPEN, &CWireletApp::OnFileOpen, nullptr},
        {ID_FILE_PRINT_SETUP, &CWireletApp::OnFilePrintSetup, nullptr},
        {ID_APP_EXIT, &CWireletApp::OnAppExit, nullptr},
    };
    const int nRecent = static_cast<int>(nID - ID_FILE_MRU_FILE1);
    if (nID >= ID_FILE_MRU_FILE1 && nRecent < RECENT_FILE_COUNT) {
        if (eMsg == ECmdMsg::Command)
            OnOpenRecentFile(nRecent);
        else if (eMsg == ECmdMsg::Update)
            pCmdUI->Enable(nRecent < m_recentFiles.Files().size());
        return true;
    }
    return DispatchCmdMsg<CWireletApp>(this, MAP, nID, eMsg, pCmdUI);
}

void CWireletApp::OnAppAbout() {
    CAboutDlg dlg(m_pMainWnd.get());
    dlg.exec();
}

// A monitor window without a port: no attachment, no reader, nothing to stop.
void CWireletApp::OnFileNew() {
    CDocument* pDocument = g_pDocTemplate->CreateNewDocument();
    if (pDocument == nullptr)
        return;
    CChildFrame* pFrame = g_pDocTemplate->CreateNewFrame(pDocument);
    g_pDocTemplate->InitialUpdateFrame(pFrame, pDocument, true);
}

void CWireletApp::OnFileOpen() {
    const QString strPath = QFileDialog::getOpenFileName(
        m_pMainWnd.get(), ResourceText(AFX_IDS_OPENFILE), QString(),
        ResourceText(AFX_IDS_ALLFILTER), nullptr, QFileDialog::DontUseNativeDialog);
    if (!strPath.isEmpty())
        OpenDocumentFile(strPath);
}

// The document keeps nothing in its file, so opening one only checks that
// it is a regular file that can be read.
CDocument* CWireletApp::OpenDocumentFile(const QString& strPath) {
    CRegularFile file;
    if (const int nError = file.OpenToRead(QFile::encodeName(strPath).toStdString())) {
        AfxMessages().ShowWarning(FileErrorText::Message(nError, strPath.toStdString()));
        return nullptr;
    }
    file.Close();
    CDocument* pDocument = g_pDocTemplate->CreateNewDocument();
    if (pDocument == nullptr)
        return nullptr;
    CChildFrame* pFrame = g_pDocTemplate->CreateNewFrame(pDocument);
    pDocument->SetTitle(QFileInfo(strPath).fileName());
    g_pDocTemplate->InitialUpdateFrame(pFrame, pDocument, true);
    m_recentFiles.Add(strPath);
    return pDocument;
}

void CWireletApp::OnOpenRecentFile(int nIndex) {
    if (nIndex >= m_recentFiles.Files().size())
        return;
    if (OpenDocumentFile(m_recentFiles.Files()[nIndex]) == nullptr)
        m_recentFiles.Remove(nIndex);
}

void CWireletApp::OnFilePrintSetup() {
    QPrintDialog dialog(&GetPrinter(), m_pMainWnd.get());
    dialog.setWindowTitle(ResourceText(ID_FILE_PRINT_SETUP).section(u'\n', 1, 1));
    dialog.setAccessibleName(dialog.windowTitle());
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    dialog.exec();
}

void CWireletApp::OnAppExit() {
    if (m_pMainWnd)
        m_pMainWnd->close();
}

// The signal may come inside a modal box that a monitor's own close shows:
// closing the monitors here would free it under that close. Every event loop
// ends instead, the box's too, and ExitInstance closes what is left once
// they have returned, with no box that would wait there for a click.
void CWireletApp::OnQuitSignal() {
    g_bClosing = true;
    CMessageBox::SetUnattended();
    QCoreApplication::exit(0);
}
