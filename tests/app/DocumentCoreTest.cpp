// The document core with no window at all: the command route over a document
// and the application, the file commands, and a monitor over a real driver.
#include "AfxMessages.h"
#include "CCommandRouter.h"
#include "CDriverProcess.h"
#include "CFrameWnd.h"
#include "CMultiDocTemplate.h"
#include "CPty.h"
#include "CRecordingMessageBox.h"
#include "CRegularFile.h"
#include "CView.h"
#include "CWinApp.h"
#include "CWireletDoc.h"
#include "DriverDevice.h"
#include "FileErrorText.h"
#include "MonitorMessages.h"
#include "Records.h"
#include "Resource.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

namespace {

class CTestFrame : public CFrameWnd {
public:
    void OnUpdateFrameTitle() override {}
    void ActivateFrame() override {}
    void DestroyFrame() override {}
};

// The user's answer to the file dialog is the test's.
class CTestApp : public CWinApp {
public:
    CTestApp() {
        AddDocTemplate(std::make_unique<CMultiDocTemplate>(
            "Wirelet", [] { return std::make_unique<CWireletDoc>(); },
            [this](CDocument*) { return m_frames.emplace_back(new CTestFrame).get(); }));
    }
    bool DoPromptFileName(QString& strFileName, UINT, bool) override {
        m_proposed << strFileName;
        strFileName = m_strAnswer;
        return !m_strAnswer.isEmpty();
    }
    QString m_strAnswer;
    QStringList m_proposed;
    std::vector<std::unique_ptr<CTestFrame>> m_frames;
};

class DocumentCoreTest : public testing::Test {
protected:
    void SetUp() override { SetAfxMessages(&m_messages); }
    void TearDown() override { SetAfxMessages(nullptr); }

    QString WriteFile(const QString& strName, int nBytes) const {
        const QString strPath = m_dir.path() + "/" + strName;
        std::ofstream(strPath.toStdString()) << std::string(std::size_t(nBytes), 'x');
        return strPath;
    }
    static bool Enabled(std::vector<CCmdTarget*> route, UINT nID) {
        return CCommandRouter::Update(route, nID).m_bEnabled;
    }

    QTemporaryDir m_dir;
    CRecordingMessageBox m_messages;
    CTestApp m_app;
};

// A command is enabled where some target on the route handles it; a recent
// file's entry while the list holds one, and a file that went is dropped.
TEST_F(DocumentCoreTest, TheRouteEnablesWhatItsTargetsHandleAndTheRecentFilesTheyHold) {
    CDocument* pDocument = g_pDocTemplate->OpenDocumentFile(QString());
    ASSERT_NE(pDocument, nullptr);
    for (const UINT nID : {ID_FILE_CLOSE, ID_FILE_SAVE_AS}) {
        EXPECT_TRUE(Enabled({pDocument, &m_app}, nID)) << nID;
        EXPECT_FALSE(Enabled({&m_app}, nID)) << nID;
    }
    EXPECT_TRUE(Enabled({&m_app}, ID_FILE_NEW));

    const QString strKept = WriteFile("kept.wlt", 0);
    m_app.GetRecentFileList().Add(m_dir.path() + "/gone.wlt");
    m_app.GetRecentFileList().Add(strKept);
    for (int i = 0; i < RECENT_FILE_COUNT; ++i)
        EXPECT_EQ(Enabled({&m_app}, ID_FILE_MRU_FILE1 + i), i < 2) << i;
    EXPECT_TRUE(CCommandRouter::Execute({{&m_app}}, ID_FILE_MRU_FILE1 + 1));
    EXPECT_EQ(m_messages.m_messages.size(), 1u);
    EXPECT_EQ(m_app.GetRecentFileList().Files(), QStringList(strKept));
    EXPECT_TRUE(CCommandRouter::Execute({{&m_app}}, ID_FILE_MRU_FILE1));
    EXPECT_EQ(g_pDocTemplate->GetDocumentCount(), 2u);
    EXPECT_FALSE(Enabled({&m_app}, ID_FILE_MRU_FILE1 + 1));
}

// The file a monitor saves holds nothing: a longer one is emptied. A device
// is never written, and the window keeps its name.
TEST_F(DocumentCoreTest, SaveAsEmptiesALongerFileAndRefusesADevice) {
    CDocument* pDocument = g_pDocTemplate->OpenDocumentFile(QString());
    pDocument->SetTitle("/dev/pts/7");
    m_app.m_strAnswer = "/dev/null";
    EXPECT_TRUE(CCommandRouter::Execute({{pDocument}}, ID_FILE_SAVE_AS));
    EXPECT_EQ(m_app.m_proposed, QStringList("pts-7"));
    EXPECT_EQ(m_messages.m_messages, std::vector<std::string>{FileErrorText::Message(
                                         CRegularFile::NOT_REGULAR, "/dev/null")});
    EXPECT_EQ(pDocument->GetTitle(), "/dev/pts/7");

    m_app.m_strAnswer = WriteFile("longer.wlt", 4096);
    EXPECT_TRUE(CCommandRouter::Execute({{pDocument}}, ID_FILE_SAVE_AS));
    EXPECT_EQ(QFileInfo(m_app.m_strAnswer).size(), 0);
    EXPECT_EQ(pDocument->GetTitle(), "longer.wlt");
    EXPECT_EQ(m_app.GetRecentFileList().Files(), QStringList(m_app.m_strAnswer));
}

class CHintedView : public CView {
public:
    void OnUpdate(CView*, long lHint) override { m_hints.push_back(lHint); }
    std::vector<long> m_hints;
};

// More records than one batch may format: the rest follows in further
// batches though nothing new arrives to wake the monitor. Its views learn
// that it runs, one added later too; with no pane watching its text, it says so.
TEST_F(DocumentCoreTest, AMonitorDrainsABacklogLargerThanOneBatch) {
    constexpr int RECORDS = 60000;
    const std::vector<Records::Bytes> session(RECORDS, Records::Read("0123456789abcdef"));
    CDriverProcess driver;
    ASSERT_TRUE(driver.StartReplay(session)) << driver.Stderr();
    driver.UseForThisProcess();
    OpenDevice();
    CPty port;
    {
        CWireletDoc monitor;
        CHintedView first, later;
        first.SetDocument(&monitor);
        ASSERT_EQ(monitor.AttachPort(QString::fromStdString(port.Slave())), 0);
        monitor.StartMonitor();
        later.SetDocument(&monitor);
        for (const CHintedView* pView : {&first, &later})
            EXPECT_EQ(pView->m_hints, std::vector<long>{CWireletDoc::HINT_MONITOR_STARTED});
        EXPECT_EQ(m_messages.m_messages,
                  std::vector<std::string>({MSG_NO_READ_VIEW, MSG_NO_WRITE_VIEW}));
        EXPECT_TRUE(QTest::qWaitFor([&] { return monitor.TotalRead() == RECORDS * 16u; }, 30000))
            << monitor.TotalRead();
    }
    g_hDevice.Close();
}

} // namespace
