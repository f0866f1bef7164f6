// The monitor windows as a user drives them: the real program's windows over
// a real vantry.sys that replays a recorded session to every port attached.
#include "CMySplitter.h"
#include "CProgramFixture.h"
#include "CViewRead.h"
#include "CViewWrite.h"
#include "MonitorMessages.h"
#include "Resource.h"

#include <QAction>
#include <QStatusBar>

#include <csignal>

using namespace ProgramFixture;

namespace {

class MonitorWindowTest : public CProgramFixture {};

TEST_F(MonitorWindowTest, PickedPortShowsItsTrafficAndComesBackAtTheEndWhenClosed) {
    const QString strCom1 = Port(0), strCom3 = Port(1);
    StartProgram({strCom1, "", strCom3});
    EXPECT_EQ(PortList(), QStringList({strCom1, strCom3})) << "an empty map entry is left out";
    EXPECT_EQ(RecvCount(), "");

    QTest::keyClick(&Ports(), Qt::Key_Down);
    CChildFrame* pFrame = Frame().MDIGetActive();
    ASSERT_NE(pFrame, nullptr);
    EXPECT_EQ(pFrame->windowTitle(), strCom3);
    EXPECT_EQ(PortList(), QStringList({strCom1}));
    EXPECT_EQ(Ports().currentIndex(), 0);
    EXPECT_EQ(pFrame->size(), QSize(CChildFrame::INITIAL_WIDTH, CChildFrame::INITIAL_HEIGHT));

    ASSERT_TRUE(WaitForSession(pFrame));
    const auto [strRead, strWrite] = SessionText();
    EXPECT_EQ(pFrame->GetReadPane()->Text(), strRead);
    EXPECT_EQ(pFrame->GetWritePane()->Text(), strWrite);
    EXPECT_EQ(RecvCount(), "44");
    EXPECT_TRUE(Frame().statusBar()->currentMessage().startsWith(strCom3 + ": "));
    EXPECT_TRUE(Frame().statusBar()->currentMessage().contains(" 5 records"));

    pFrame->close();
    Settle();
    EXPECT_EQ(m_messages.m_messages, std::vector<std::string>{MSG_CLOSE_APPLICATIONS});
    EXPECT_EQ(PortList(), QStringList({strCom1, strCom3}));
    EXPECT_EQ(Ports().currentIndex(), 0);
    EXPECT_EQ(RecvCount(), "");
    EXPECT_EQ(SendCount(), "");
    EXPECT_EQ(Monitors(), 0u);
    EXPECT_EQ(g_pCurrentMonitor, nullptr) << "a later monitor at the same address is not current";
}

TEST_F(MonitorWindowTest, PaneVisibilityFollowsItsThreeStates) {
    StartProgram({Port(0)});
    CChildFrame* pFrame = Pick(Port(0));
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
    StartProgram({Port(0), Port(1)});
    CChildFrame* pA = Pick(Port(0));
    CChildFrame* pB = Pick(Port(1));
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

// Every window on a monitor shows its text, with a selection of its own; a
// clear in one clears all, and whichever closes last ends the monitor.
// Removing the driver closes the device under the running reader: it ends
// at once and quietly; only the detach of the close says it failed.
TEST_F(MonitorWindowTest, EveryWindowShowsTheMonitorAndAnyMayCloseLast) {
    StartProgram({Port(0)});
    CChildFrame* pFrame = Pick(Port(0));
    CWireletDoc* pMonitor = Monitor(pFrame);
    auto* pSecond = dynamic_cast<CChildFrame*>(g_pDocTemplate->CreateNewFrame(pMonitor));
    g_pDocTemplate->InitialUpdateFrame(pSecond, pMonitor, true);
    ASSERT_TRUE(WaitForSession(pFrame));
    const auto [strRead, strWrite] = SessionText();
    for (CChildFrame* pWindow : {pFrame, pSecond}) {
        EXPECT_EQ(pWindow->GetReadPane()->Text(), strRead);
        EXPECT_EQ(pWindow->GetWritePane()->Text(), strWrite);
    }
    pSecond->GetReadPane()->SelectAll();
    EXPECT_FALSE(pFrame->GetReadPane()->HasSelection());
    pSecond->OnClearSend();
    EXPECT_EQ(pFrame->GetWritePane()->TextLength(), 0u);

    EXPECT_TRUE(Frame().ExecuteCommand(ID_REMOVE_DRIVER));
    m_messages.m_messages.clear();
    pFrame->close();
    Settle();
    EXPECT_EQ(Monitors(), 1u);
    EXPECT_TRUE(m_messages.m_messages.empty());
    EXPECT_EQ(pSecond->GetReadPane()->Text(), strRead);
    pSecond->close();
    Settle();
    EXPECT_EQ(m_messages.m_messages,
              std::vector<std::string>({MSG_CLOSE_APPLICATIONS, MSG_UNKNOWN_ERROR}));
    EXPECT_EQ(Monitors(), 0u);
    EXPECT_EQ(g_pDocTemplate->GetDocumentCount(), 0u);
}

// A quit signal ends the program as closing it does, without its question:
// during start-up, before there is a loop to end, or while monitors run,
// which detach before the driver's device goes.
TEST_F(MonitorWindowTest, AQuitSignalEndsTheProgramMonitorsFirst) {
    WritePortMap({Port(0)});
    auto pApp = std::make_unique<CQuickApp>();
    pApp->m_onSplash = [] {
        std::raise(SIGTERM);
        QCoreApplication::processEvents();
    };
    QTimer hang;
    hang.callOnTimeout([] { QCoreApplication::exit(1); });
    hang.start(3000);
    EXPECT_EQ(pApp->Run({}), 0);
    hang.stop();
    EXPECT_FALSE(g_hDevice.IsOpen());
    pApp.reset();

    m_pApp = std::make_unique<CQuickApp>();
    QTimer::singleShot(0, [this] {
        ASSERT_TRUE(WaitForSession(Pick(Port(0))));
        std::raise(SIGTERM);
    });
    EXPECT_EQ(m_pApp->Run({}), 0);
    EXPECT_EQ(m_messages.m_messages, std::vector<std::string>{});
    EXPECT_EQ(g_nOpenMonitors, 0);
    EXPECT_FALSE(g_hDevice.IsOpen());
}

} // namespace
