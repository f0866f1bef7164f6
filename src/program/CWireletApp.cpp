#include "CWireletApp.h"

#include "CAboutDlg.h"
#include "CChildFrame.h"
#include "CMainFrame.h"
#include "CMessageBox.h"
#include "CMultiDocTemplate.h"
#include "CQuitSignals.h"
#include "CSplashWnd.h"
#include "CWireletDoc.h"
#include "CaptureSourceText.h"
#include "DriverDevice.h"
#include "DriverService.h"
#include "Resource.h"

#include <QApplication>
#include <QFileDialog>
#include <QMdiArea>
#include <QPrintDialog>
#include <QPrinter>

#include <sys/utsname.h>

namespace {

constexpr int SPLASH_MS = 3000;
constexpr int CAPTURE_SOURCE_MS = 5000;
constexpr const char* MSG_WRONG_PLATFORM = "本程序只能运行在 Linux 平台！";

QString ResourceText(UINT nID) {
    return QString::fromUtf8(LoadResourceString(nID));
}

} // namespace

CWireletApp::CWireletApp() = default;

// Monitors end before the main window and the device go, so that no reader
// thread outlives what it uses.
CWireletApp::~CWireletApp() {
    CloseAllDocuments();
    m_pMainWnd.reset();
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
    LoadStdProfileSettings();

    AddDocTemplate(std::make_unique<CMultiDocTemplate>(
        ResourceText(IDR_WIRELETTYPE).section(u'\n', 1, 1),
        [] { return std::make_unique<CWireletDoc>(); },
        [this](CDocument* pDocument) {
            auto* pFrame = new CChildFrame(pDocument);
            m_pMainWnd->GetMdiArea().addSubWindow(pFrame);
            return pFrame;
        }));

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

int CWireletApp::Run(const QStringList& arguments) {
    CQuitSignals quitSignals([this] { OnQuitSignal(); });
    // A signal seen during start-up came before there was a loop to end.
    int nResult = 0;
    if (InitInstance(arguments) && !quitSignals.IsSignalled())
        nResult = QApplication::exec();
    ExitInstance();
    return nResult;
}

void CWireletApp::ExitInstance() {
    // A quit signal ends the event loop with the monitors still open; they
    // end here, before the driver they read from stops.
    CloseAllDocuments();
    StopDriver();
    SaveStdProfileSettings();
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

bool CWireletApp::OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) {
    static constexpr CCommandEntry<CWireletApp> MAP[] = {
        {ID_APP_ABOUT, &CWireletApp::OnAppAbout, nullptr},
        {ID_FILE_PRINT_SETUP, &CWireletApp::OnFilePrintSetup, nullptr},
        {ID_APP_EXIT, &CWireletApp::OnAppExit, nullptr},
    };
    return DispatchCmdMsg<CWireletApp>(this, MAP, nID, eMsg, pCmdUI) ||
           CWinApp::OnCmdMsg(nID, eMsg, pCmdUI);
}

void CWireletApp::OnAppAbout() {
    CAboutDlg dlg(m_pMainWnd.get());
    dlg.exec();
}

// The document type has no filter of its own: all files.
bool CWireletApp::DoPromptFileName(QString& strFileName, UINT nIDSTitle, bool bOpenFileDialog) {
    const QString strCaption = ResourceText(nIDSTitle);
    QFileDialog dialog(QApplication::activeWindow(), strCaption);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(bOpenFileDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(bOpenFileDialog ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilter(ResourceText(AFX_IDS_ALLFILTER));
    dialog.selectFile(strFileName);
    dialog.setAccessibleName(strCaption);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    strFileName = dialog.selectedFiles().constFirst();
    return true;
}

void CWireletApp::OnFilePrintSetup() {
    QPrintDialog dialog(&m_pMainWnd->GetPrinter(), m_pMainWnd.get());
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
