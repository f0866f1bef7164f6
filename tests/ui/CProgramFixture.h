// The whole program in one process for widget tests: the real windows over
// a real vantry.sys that replays a recorded session to every port attached,
// with the message boxes recorded.
#pragma once

#include "CChildFrame.h"
#include "CCounterBar.h"
#include "CDriverProcess.h"
#include "CMainFrame.h"
#include "CMemoryPane.h"
#include "CMessageBox.h"
#include "CMultiDocTemplate.h"
#include "CPortToolBar.h"
#include "CPty.h"
#include "CRecordingMessageBox.h"
#include "CWireletApp.h"
#include "CWireletDoc.h"
#include "DriverDevice.h"
#include "Records.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>

namespace ProgramFixture {

using namespace Records;

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

// The program without its three seconds of splash.
class CQuickApp : public CWireletApp {
public:
    std::function<void()> m_onSplash; // what happens while the splash would show
protected:
    void ShowSplash(int) override {
        if (m_onSplash)
            m_onSplash();
    }
};

class CProgramFixture : public testing::Test {
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
        WritePortMap(ports);
        m_pApp = std::make_unique<CQuickApp>();
        ASSERT_TRUE(m_pApp->InitInstance());
    }
    void WritePortMap(const QStringList& ports) {
        const QString strMap = m_dir.path() + "/ports";
        std::ofstream map(strMap.toStdString());
        for (int i = 0; i < ports.size(); ++i)
            map << "value" << i << "=" << ports[i].toStdString() << "\n";
        map.close();
        setenv("WIRELET_SERIALCOMM", strMap.toUtf8().constData(), 1);
    }

    QString Port(int n) const { return QString::fromStdString(m_ports[n].Slave()); }

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

    // Runs answer on the next modal dialog, once it is open.
    template <class TDialog> static void WhenModal(std::function<void(TDialog*)> answer) {
        QTimer::singleShot(0, [answer] {
            auto* pDialog = qobject_cast<TDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(pDialog, nullptr);
            answer(pDialog);
        });
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
    CPty m_ports[3];
    std::unique_ptr<CWireletApp> m_pApp;
};

} // namespace ProgramFixture
