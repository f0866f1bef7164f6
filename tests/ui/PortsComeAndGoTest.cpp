// The driver and ports going away under running monitors, and ports coming
// while the program runs: nothing of it is silent, and the port list follows.
#include "CProgramFixture.h"
#include "MonitorMessages.h"

#include <QLabel>
#include <QStatusBar>

#include <algorithm>

using namespace ProgramFixture;

namespace {

class PortsComeAndGoTest : public CProgramFixture {
protected:
    QString IdleText() const { return Frame().statusBar()->findChildren<QLabel*>()[0]->text(); }
};

TEST_F(PortsComeAndGoTest, EveryStoppedCaptureIsSaidAndTheListFollowsTheMap) {
    StartProgram({Port(0), Port(2)});
    CChildFrame* pFirst = Pick(Port(0));
    CChildFrame* pSecond = Pick(Port(2));
    ASSERT_TRUE(WaitForSession(pFirst) && WaitForSession(pSecond));
    m_driver.Stop();
    const QString strGone = ": " + QString::fromUtf8(MSG_DRIVER_GONE);
    ASSERT_TRUE(QTest::qWaitFor([&] { return IdleText().count(strGone) == 2; }));
    WritePortMap({Port(0), Port(1)});
    EXPECT_TRUE(QTest::qWaitFor([&] { return PortList() == QStringList({Port(1)}); }));
    EXPECT_TRUE(IdleText().contains(Port(2) + ": " + QString::fromUtf8(MSG_PORT_VANISHED)));

    // A monitor that could not attach keeps its untitled window, counted,
    // with its warning on closing; its port stays on offer.
    CChildFrame* pFailed = Pick(Port(1));
    EXPECT_EQ(Frame().statusBar()->currentMessage(),
              QString::fromUtf8(MSG_DRIVER_NOT_RUNNING).arg(Port(1)));
    EXPECT_EQ(pFailed->windowTitle(), "Wirelet3");
    EXPECT_EQ(g_nOpenMonitors, 3);
    EXPECT_EQ(m_messages.m_messages,
              std::vector{QString::fromUtf8(MSG_CANNOT_MONITOR).arg(Port(1)).toStdString()});
    for (CChildFrame* pFrame : {pFirst, pSecond, pFailed})
        pFrame->close();
    Settle();
    EXPECT_EQ(std::ranges::count(m_messages.m_messages, MSG_CLOSE_APPLICATIONS), 3);
    EXPECT_EQ(g_nOpenMonitors, 0);
    EXPECT_EQ(PortList(), QStringList({Port(1), Port(0)}));
    EXPECT_EQ(IdleText(), QString::fromUtf8("就绪"));
    WritePortMap({Port(0), Port(1), Port(2)});
    EXPECT_TRUE(QTest::qWaitFor([&] { return PortList().size() == 3; }));
    EXPECT_EQ(PortList(), QStringList({Port(1), Port(0), Port(2)}));
}

} // namespace
