// Ports and the driver going away under the running program, and ports
// coming while it runs: nothing of it is silent, and the port list follows.
#include "CProgramFixture.h"
#include "MonitorMessages.h"

#include <QLabel>
#include <QStatusBar>

using namespace ProgramFixture;

namespace {

class PortsComeAndGoTest : public CProgramFixture {
protected:
    void WriteMap(const QStringList& ports) {
        std::ofstream map((m_dir.path() + "/ports").toStdString());
        for (const QString& strPort : ports)
            map << "v=" << strPort.toStdString() << "\n";
    }
    // What stands in the status bar: a line shown, or else its idle text.
    QString Notice() const {
        const QString strMessage = Frame().statusBar()->currentMessage();
        return !strMessage.isEmpty() ? strMessage
                                     : Frame().statusBar()->findChildren<QLabel*>().first()->text();
    }
};

TEST_F(PortsComeAndGoTest, EveryMonitorSaysItsCaptureStoppedWhenTheDriverGoes) {
    StartOnPorts(3);
    CChildFrame* pFirst = Pick(Port(0));
    CChildFrame* pSecond = Pick(Port(1));
    ASSERT_TRUE(WaitForSession(pFirst) && WaitForSession(pSecond));
    m_driver.Stop();
    const QString strGone = QString::fromUtf8(MSG_DRIVER_GONE);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return Notice().contains(Port(0) + ": " + strGone) &&
               Notice().contains(Port(1) + ": " + strGone);
    })) << Notice().toStdString();
    Pick(Port(2));
    EXPECT_EQ(Notice(), QString::fromUtf8(MSG_DRIVER_NOT_RUNNING).arg(Port(2)));
    EXPECT_EQ(m_messages.m_messages.back(),
              QString::fromUtf8(MSG_CANNOT_MONITOR).arg(Port(2)).toStdString());
}

TEST_F(PortsComeAndGoTest, ThePortListFollowsTheMapAndAGoneMonitoredPortIsSaid) {
    StartProgram({Port(0), Port(2)});
    CChildFrame* pFrame = Pick(Port(0));
    WriteMap({Port(0), Port(1), Port(2)});
    EXPECT_TRUE(QTest::qWaitFor([&] { return PortList() == QStringList({Port(1), Port(2)}); }));
    WriteMap({Port(1), Port(2)});
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Notice() == Port(0) + ": " + QString::fromUtf8(MSG_PORT_VANISHED); }));
    pFrame->close();
    Settle();
    EXPECT_EQ(PortList(), QStringList({Port(1), Port(2)}));
    WriteMap({Port(0), Port(1), Port(2)});
    EXPECT_TRUE(QTest::qWaitFor([&] { return PortList().size() == 3; }));
    EXPECT_EQ(PortList(), QStringList({Port(0), Port(1), Port(2)}));
}

} // namespace
