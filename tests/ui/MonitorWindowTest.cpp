// The monitor windows as a user drives them: the real program's windows over
// a real vantry.sys that replays a recorded session to every port attached.
#include "CChildFrame.h"
#include "CCounterBar.h"
#include "CDriverProcess.h"
#include "CMainFrame.h"
#include "CMemoryPane.h"
#include "CMessageBox.h"
#include "CMultiDocTemplate.h"
#include "CMySplitter.h"
#include "CPortToolBar.h"
#include "CPty.h"
#include "CRecordingMessageBox.h"
#include "CViewRead.h"
#include "CViewWrite.h"
#include "CWireletApp.h"
#include "CWireletDoc.h"
#include "DriverDevice.h"
#include "MonitorMessages.h"
#include "Records.h"
#include "Resource.h"

#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace Records;

namespace {

// 44 bytes received, 3 sent, and the port's settings: a line and a half of
// hex in one pane, a partial line in the other, events in both; and a gap
// the driver reports.
const std::vector<Bytes> SESSION = {
    Make(Vantry::CAPTURE_PORT_OPENED),
    Baud(9600),
    LineControl(0, 0, 8),
    Read("0123456789abcdef0123456789"),
    Written(Bytes{'A', 'T', '\r'}),
    Make(Vantry::CAPTURE_DRIVER_NOTICE, {1, 0, 0, 0, 5, 0, 0, 0}),
    Read("\x01\x7f\xff 0123456789abcd"),
};
constexpr std::uint64_t SESSION_READ = 44;
constexpr std::uint64_t SESSION_WRITTEN = 3;

class MonitorWindowTest : public testing::Test {
protected:
    void SetUp() override {
        SetAfxMessages(&m_messages);
        setenv("WIRELET_SCM_ROOT", (m_dir.path() + "/scm").toUtf8().constData(), 1);
        ASSERT_TRUE(m_driver.StartReplay(SESSION)) << m_driver.Stderr();
        m_driver.UseForThisProcess();
    }

    void TearDown() override {
        g_bClosing = true; // the closes below are the test's, not the user's
        m_pApp.reset();
        g_bClosing = false;
        g_nOpenMonitors = 0;
        g_hDevice.Close();
        SetAfxMessages(nullptr);
    }

    void StartProgram(const QStringList& ports) {
        const QString strMap = m_dir.path() + "/ports";
        std::ofstream map(strMap.toStdString());
        for (int i = 0; i < ports.size(); ++i)
            map << "value" << i << "=" << ports[i].toStdString() << "\n";
        map.close();
        setenv("WIRELET_SERIALCOMM", strMap.toUtf8().constData(), 1);
        m_pApp = std::make_unique<CWireletApp>();
        ASSERT_TRUE(m_pApp->InitInstance());
    }

    CMainFrame& Frame() const { return *m_pApp->GetMainFrame(); }
    QComboBox& Ports() const { return *Frame().GetPortToolBar().m_wndPortCombo; }
    QStringList PortList() const {
        QStringList items;
        for (int i = 0; i < Ports().count(); ++i)
            items << Ports().itemText(i);
        return items;
    }

    // Picks the port from the list and returns the window it opened.
    CChildFrame* Pick(const QString& strPort) {
        emit Ports().activated(Ports().findText(strPort));
        return Frame().MDIGetActive();
    }

    static CWireletDoc* Monitor(CChildFrame* pFrame) {
        return dynamic_cast<CWireletDoc*>(pFrame->GetActiveDocument());
    }

    // Waits until the monitor has formatted the whole session.
    static bool WaitForSession(CChildFrame* pFrame) {
        return QTest::qWaitFor([&] {
            return Monitor(pFrame)->TotalRead() == SESSION_READ &&
                   Monitor(pFrame)->TotalWrite() == SESSION_WRITTEN;
        });
    }

    // What the panes must hold: the session through the formatter alone.
    static std::pair<std::u16string, std::u16string> SessionText() {
        CMemoryPane read, write;
        CTrafficFormatter formatter;
        formatter.SetPanes(&read, &write);
        for (const Bytes& record : SESSION)
            formatter.FormatRecord(Owned(record));
        return {read.Text(), write.Text()};
    }

    static void Settle() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    std::size_t Monitors() const { return Frame().GetMdiArea().subWindowList().size(); }
    QString RecvCount() const { return Frame().GetCounterBar().m_wndRecvCount->text(); }
    QString SendCount() const { return Frame().GetCounterBar().m_wndSendCount->text(); }

    QTemporaryDir m_dir;
    CRecordingMessageBox m_messages;
    CDriverProcess m_driver;
    std::unique_ptr<CWireletApp> m_pApp;
};

std::string CannotMonitor(const QString& strPort) {
    return QString::fromUtf8(MSG_CANNOT_MONITOR).arg(strPort).toStdString();
}

TEST_F(MonitorWindowTest, PickedPortShowsItsTrafficAndComesBackAtTheEndWhenClosed) {
    CPty com1, com3;
    const QString strCom1 = QString::fromStdString(com1.Slave());
    const QString strCom3 = QString::fromStdString(com3.Slave());
    StartProgram({strCom1, "", strCom3});
    EXPECT_EQ(PortList(), QStringList({strCom1, strCom3})) << "an empty map entry is left out";
    EXPECT_EQ(Ports().currentIndex(), 0);
    EXPECT_EQ(RecvCount(), "");
    EXPECT_EQ(Frame().menuBar()->actions().size(), 1) << "menu 128: Settings only";

    QTest::keyClick(&Ports(), Qt::Key_Down);
    CChildFrame* pFrame = Frame().MDIGetActive();
    ASSERT_NE(pFrame, nullptr);
    EXPECT_EQ(pFrame->windowTitle(), strCom3);
    EXPECT_EQ(PortList(), QStringList({strCom1}));
    EXPECT_EQ(Ports().currentIndex(), 0);
    EXPECT_EQ(g_nOpenMonitors, 1);
    EXPECT_EQ(pFrame->size(), QSize(CChildFrame::INITIAL_WIDTH, CChildFrame::INITIAL_HEIGHT));

    ASSERT_TRUE(WaitForSession(pFrame));
    const auto [strRead, strWrite] = SessionText();
    EXPECT_EQ(pFrame->GetReadPane()->Text(), strRead);
    EXPECT_EQ(pFrame->GetWritePane()->Text(), strWrite);
    EXPECT_EQ(RecvCount(), "44");
    EXPECT_EQ(SendCount(), "3");
    EXPECT_TRUE(Frame().statusBar()->currentMessage().startsWith(strCom3 + ": "));
    EXPECT_TRUE(Frame().statusBar()->currentMessage().contains(" 5 records"));
    Frame().UpdateCommandStates();
    EXPECT_EQ(Frame().menuBar()->actions().size(), 2) << "menu 129 while a monitor is active";

    pFrame->close();
    Settle();
    EXPECT_EQ(m_messages.m_messages, std::vector<std::string>{MSG_CLOSE_APPLICATIONS});
    EXPECT_EQ(PortList(), QStringList({strCom1, strCom3}));
    EXPECT_EQ(Ports().currentIndex(), 0);
    EXPECT_EQ(RecvCount(), "");
    EXPECT_EQ(SendCount(), "");
    EXPECT_EQ(g_nOpenMonitors, 0);
    EXPECT_EQ(Monitors(), 0u);
    EXPECT_EQ(g_pCurrentMonitor, nullptr) << "a later monitor at the same address is not current";
}

// A monitor that never started has no port, attachment or reader to give back.
TEST_F(MonitorWindowTest, FailedAttachLeavesACountedEmptyWindowAndThePortOnOffer) {
    const QString strMissing = m_dir.path() + "/ttyMissing";
    StartProgram({strMissing});
    CChildFrame* pFirst = Pick(strMissing);
    Pick(strMissing);
    EXPECT_EQ(m_messages.m_messages, std::vector<std::string>(2, CannotMonitor(strMissing)));
    EXPECT_EQ(Monitors(), 2u);
    EXPECT_EQ(pFirst->windowTitle(), "Wirelet1");
    EXPECT_EQ(PortList(), QStringList({strMissing}));
    EXPECT_EQ(g_nOpenMonitors, 2);

    m_messages.m_messages.clear();
    pFirst->close();
    Settle();
    EXPECT_EQ(m_messages.m_messages, std::vector<std::string>{MSG_CLOSE_APPLICATIONS});
    EXPECT_EQ(PortList(), QStringList({strMissing}));
    EXPECT_EQ(g_nOpenMonitors, 1);
    EXPECT_EQ(Monitors(), 1u);
}

TEST_F(MonitorWindowTest, PaneVisibilityFollowsItsThreeStates) {
    CPty port;
    StartProgram({QString::fromStdString(port.Slave())});
    CChildFrame* pFrame = Pick(QString::fromStdString(port.Slave()));
    CMySplitter* pSplitter = pFrame->GetSplitter();
    enum ERow0 { Fixed180, Collapsed, Whole };
    struct {
        UINT nCommand;
        bool bRecvShown, bSendShown;
        ERow0 eRow0;
    } const steps[] = {
        {0, true, true, Fixed180},
        {ID_SHOW_SEND, true, false, Whole},
        {ID_SHOW_RECV, true, false, Whole},
        {ID_SHOW_SEND, true, true, Fixed180},
        {ID_SHOW_RECV, false, true, Collapsed},
        {ID_SHOW_SEND, false, true, Collapsed},
        {ID_SHOW_RECV, true, true, Fixed180},
        {ID_SHOW_SEND, true, false, Whole},
    };
    for (const auto& step : steps) {
        if (step.nCommand != 0) {
            EXPECT_TRUE(Frame().ExecuteCommand(step.nCommand));
        }
        Frame().UpdateCommandStates();
        SCOPED_TRACE(testing::Message() << "after " << step.nCommand);
        EXPECT_EQ(Frame().GetAction(ID_SHOW_RECV)->isChecked(), step.bRecvShown);
        EXPECT_EQ(Frame().GetAction(ID_SHOW_SEND)->isChecked(), step.bSendShown);
        const int nExpected = step.eRow0 == Fixed180 ? CChildFrame::RECV_ROW_HEIGHT
                              : step.eRow0 == Collapsed
                                  ? 0
                                  : pSplitter->height() - pSplitter->handleWidth();
        EXPECT_EQ(pSplitter->sizes()[0], nExpected);
    }
    // A hidden send pane stays hidden however tall the window grows.
    pFrame->resize(CChildFrame::INITIAL_WIDTH, 1200);
    QCoreApplication::processEvents();
    EXPECT_EQ(pSplitter->sizes()[1], 0);
    EXPECT_GT(pSplitter->sizes()[0], 800);
}

TEST_F(MonitorWindowTest, CountersFollowTheFocusAndClearTouchesOnlyItsOwnMonitor) {
    CPty portA, portB;
    StartProgram({QString::fromStdString(portA.Slave()), QString::fromStdString(portB.Slave())});
    CChildFrame* pA = Pick(QString::fromStdString(portA.Slave()));
    CChildFrame* pB = Pick(QString::fromStdString(portB.Slave()));
    ASSERT_TRUE(WaitForSession(pA) && WaitForSession(pB));

    pA->OnSetFocus();
    pB->OnClearRecv();
    EXPECT_EQ(RecvCount(), "44") << "clearing another monitor leaves the counters alone";
    EXPECT_EQ(pB->GetReadPane()->TextLength(), 0u);
    EXPECT_EQ(Monitor(pB)->TotalRead(), 0u);

    Frame().GetMdiArea().setActiveSubWindow(pA);
    EXPECT_TRUE(Frame().ExecuteCommand(ID_CLEAR_SEND));
    EXPECT_EQ(RecvCount(), "44");
    EXPECT_EQ(SendCount(), "0");
    EXPECT_EQ(pA->GetWritePane()->TextLength(), 0u);
    EXPECT_GT(pA->GetReadPane()->TextLength(), 0u);

    Frame().GetMdiArea().setActiveSubWindow(pB);
    EXPECT_EQ(RecvCount(), "0");
    EXPECT_EQ(SendCount(), "3");
}

TEST_F(MonitorWindowTest, SaveExportsThePaneThatHadTheFocusLast) {
    CPty port;
    StartProgram({QString::fromStdString(port.Slave())});
    CChildFrame* pFrame = Pick(QString::fromStdString(port.Slave()));
    ASSERT_TRUE(WaitForSession(pFrame));
    const QString strPath = m_dir.path() + "/export";
    QStringList titles;
    auto saveTo = [&](const QString& strFile) {
        QTimer::singleShot(0, [&] {
            auto* pDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(pDialog, nullptr);
            titles << pDialog->windowTitle();
            pDialog->selectFile(strFile);
            QMetaObject::invokeMethod(pDialog, "accept");
        });
        EXPECT_TRUE(Frame().ExecuteCommand(ID_FILE_SAVE));
    };
    saveTo(strPath + "-recv.txt");
    EXPECT_TRUE(Frame().ExecuteCommand(ID_NEXT_PANE));
    saveTo(strPath + "-send.txt");
    EXPECT_EQ(titles, QStringList({"串口接收数据", "串口发送数据"}));

    const auto [strRead, strWrite] = SessionText();
    for (const auto& [strFile, strText] :
         {std::pair(strPath + "-recv.txt", strRead), std::pair(strPath + "-send.txt", strWrite)}) {
        std::ifstream file(strFile.toStdString(), std::ios::binary);
        const std::string strBytes{std::istreambuf_iterator<char>(file), {}};
        EXPECT_EQ(strBytes.size(), strText.size() * 2);
        EXPECT_EQ(std::memcmp(strBytes.data(), strText.data(), strBytes.size()), 0);
    }
}

TEST_F(MonitorWindowTest, ClosingTheMainWindowWarnsOnceForAllMonitors) {
    CPty ports[3];
    QStringList names;
    for (CPty& port : ports)
        names << QString::fromStdString(port.Slave());
    StartProgram(names);
    for (const QString& strName : names)
        Pick(strName);
    EXPECT_EQ(PortList(), QStringList());
    EXPECT_EQ(g_nOpenMonitors, 3);

    Frame().close();
    EXPECT_EQ(m_messages.m_messages, std::vector<std::string>{MSG_CLOSE_APPLICATIONS});
    EXPECT_TRUE(g_bClosing);
    EXPECT_EQ(g_nOpenMonitors, 0);
    EXPECT_EQ(g_pDocTemplate->GetDocumentCount(), 0u);
    EXPECT_EQ(PortList().size(), 3);
}

// Removing the driver closes the device under the running readers: they end
// at once and quietly; only the detach of the close says it failed.
TEST_F(MonitorWindowTest, RemovingTheDriverEndsRunningMonitorsQuietly) {
    CPty port;
    StartProgram({QString::fromStdString(port.Slave())});
    CChildFrame* pFrame = Pick(QString::fromStdString(port.Slave()));
    ASSERT_TRUE(WaitForSession(pFrame));
    Frame().UpdateCommandStates();
    EXPECT_TRUE(Frame().GetAction(ID_REMOVE_DRIVER)->isEnabled());

    EXPECT_TRUE(Frame().ExecuteCommand(ID_REMOVE_DRIVER));
    EXPECT_FALSE(g_hDevice.IsOpen());
    m_messages.m_messages.clear();
    pFrame->close();
    Settle();
    EXPECT_EQ(m_messages.m_messages,
              std::vector<std::string>({MSG_CLOSE_APPLICATIONS, MSG_UNKNOWN_ERROR}));
    EXPECT_EQ(g_pDocTemplate->GetDocumentCount(), 0u);
}

// A further window on a monitor has panes the monitor never writes; the
// monitor's own window is the one whose close ends it.
TEST_F(MonitorWindowTest, ASecondWindowNeverOutlivesThePanesTheMonitorWrites) {
    CPty port;
    StartProgram({QString::fromStdString(port.Slave())});
    CChildFrame* pFrame = Pick(QString::fromStdString(port.Slave()));
    CWireletDoc* pMonitor = Monitor(pFrame);
    auto openSecond = [&] {
        CChildFrame* pSecond = g_pDocTemplate->CreateNewFrame(pMonitor);
        g_pDocTemplate->InitialUpdateFrame(pSecond, pMonitor, true);
        return pSecond;
    };
    openSecond()->close();
    Settle();
    EXPECT_EQ(Monitors(), 1u);
    EXPECT_EQ(g_pDocTemplate->GetDocumentCount(), 1u);
    EXPECT_TRUE(m_messages.m_messages.empty());

    openSecond();
    pFrame->close();
    Settle();
    EXPECT_EQ(Monitors(), 0u);
    EXPECT_EQ(g_pDocTemplate->GetDocumentCount(), 0u);
}

} // namespace
