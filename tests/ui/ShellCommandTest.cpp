// The command set as the user meets it: which commands the menus, buttons
// and keys offer with no monitor, one and several, and what the file and
// window commands do.
#include "CProgramFixture.h"
#include "CRecentFileList.h"
#include "CViewRead.h"
#include "MonitorMessages.h"
#include "Resource.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QStatusBar>

using namespace ProgramFixture;

namespace {

class ShellCommandTest : public CProgramFixture {
protected:
    // The titles of the menu bar's menus.
    QStringList Menus() const {
        QStringList titles;
        for (QAction* pAction : Frame().menuBar()->actions())
            titles << pAction->text();
        return titles;
    }
    bool Enabled(UINT nID) const { return Frame().GetAction(nID)->isEnabled(); }
};

const QStringList MENU_128 = {"文件(&F)", "查看(&V)", "设置(&S)", "帮助(&H)"};
const QStringList MENU_129 = {"文件(&F)", "编辑(&E)", "查看(&V)",
                              "窗口(&W)", "设置(&S)", "帮助(&H)"};

// Monitor commands follow the active monitor; the rest are fixed.
TEST_F(ShellCommandTest, MenusAndCommandStatesFollowTheOpenMonitors) {
    const UINT withMonitor[] = {
        ID_SHOW_RECV,        ID_SHOW_SEND,        ID_CLEAR_RECV,     ID_CLEAR_SEND,
        ID_FILE_CLOSE,       ID_FILE_SAVE,        ID_FILE_SAVE_AS,   ID_FILE_PRINT,
        ID_NEXT_PANE,        ID_PREV_PANE,        ID_WINDOW_NEW,     ID_WINDOW_CASCADE,
        ID_WINDOW_TILE_HORZ, ID_WINDOW_TILE_VERT, ID_WINDOW_ARRANGE, ID_VIEW_TIMELINE};
    const UINT never[] = {ID_FILE_PRINT_PREVIEW, ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_PASTE,
                          ID_EDIT_COPY};
    const UINT always[] = {ID_REMOVE_DRIVER, ID_APP_ABOUT, ID_FILE_PRINT_SETUP, ID_APP_EXIT,
                           ID_FILE_NEW,      ID_FILE_OPEN, ID_VIEW_TOOLBAR,     ID_VIEW_STATUS_BAR};
    StartProgram({Port(0), Port(1), Port(2)});
    for (int nMonitors = 0; nMonitors <= 3; ++nMonitors) {
        if (nMonitors > 0)
            Pick(Port(nMonitors - 1));
        Frame().UpdateCommandStates();
        SCOPED_TRACE(testing::Message() << nMonitors << " monitors");
        EXPECT_EQ(Menus(), nMonitors > 0 ? MENU_129 : MENU_128);
        for (const UINT nID : withMonitor)
            EXPECT_EQ(Enabled(nID), nMonitors > 0) << nID;
        for (const UINT nID : never)
            EXPECT_FALSE(Enabled(nID)) << nID;
        for (const UINT nID : always)
            EXPECT_TRUE(Enabled(nID)) << nID;
        EXPECT_TRUE(Ports().isEnabled());
    }
    // Copy needs a selection in the active pane.
    Frame().MDIGetActive()->GetReadPane()->SelectAll();
    Frame().UpdateCommandStates();
    EXPECT_EQ(Enabled(ID_EDIT_COPY), Frame().MDIGetActive()->GetReadPane()->TextLength() > 0);

    // Closing the main window warns once for all monitors and gives every
    // port back.
    Frame().close();
    Settle();
    EXPECT_EQ(m_messages.m_messages, std::vector<std::string>{MSG_CLOSE_APPLICATIONS});
    EXPECT_EQ(PortList().size(), 3);
    Frame().UpdateCommandStates();
    EXPECT_EQ(Menus(), MENU_128) << "after the last monitor window";
}

TEST_F(ShellCommandTest, ToolbarHoldsTheButtonsAndThePortListInOrder) {
    StartProgram({});
    QStringList entries;
    for (QAction* pAction : Frame().GetPortToolBar().actions()) {
        if (pAction->isSeparator())
            entries << "|";
        else if (QWidget* pWidget = Frame().GetPortToolBar().widgetForAction(pAction);
                 pWidget == Ports().parentWidget() || pWidget == &Ports())
            entries << "ports";
        else
            entries << pAction->toolTip();
    }
    EXPECT_EQ(entries, QStringList({"保存",     "|",        "ports",    "|", "剪切",     "复制",
                                    "粘贴",     "|",        "打印",     "|", "接收窗口", "发送窗口",
                                    "|",        "清除接收", "清除发送", "|", "层叠窗口", "平铺窗口",
                                    "平铺窗口", "|",        "关于"}));
    EXPECT_EQ(Ports().width(), 80);
    EXPECT_EQ(Frame().GetAction(ID_FILE_SAVE)->statusTip(), "保存活动文档");
    EXPECT_FALSE(Frame().GetAction(ID_FILE_SAVE)->icon().isNull());
    EXPECT_EQ(Frame().statusBar()->findChildren<QLabel*>().first()->text(), "就绪");

    // Toolbar hides the port toolbar only; Status bar the status bar.
    Frame().ExecuteCommand(ID_VIEW_TOOLBAR);
    Frame().ExecuteCommand(ID_VIEW_STATUS_BAR);
    Frame().UpdateCommandStates();
    EXPECT_TRUE(Frame().GetPortToolBar().isHidden());
    EXPECT_FALSE(Frame().GetCounterBar().isHidden());
    EXPECT_TRUE(Frame().statusBar()->isHidden());
    EXPECT_FALSE(Frame().GetAction(ID_VIEW_TOOLBAR)->isChecked());
    EXPECT_FALSE(Frame().GetAction(ID_VIEW_STATUS_BAR)->isChecked());
    // Without monitors, closing says nothing.
    EXPECT_TRUE(Frame().ExecuteCommand(ID_APP_EXIT));
    EXPECT_TRUE(m_messages.m_messages.empty());
    EXPECT_FALSE(g_bClosing);
}

// Both keys of a command that has two, and the keys without a letter; Ctrl+N
// stands for the other letters.
TEST_F(ShellCommandTest, EveryAcceleratorReachesItsCommand) {
    const std::pair<QKeySequence, UINT> keys[] = {
        {Qt::ALT | Qt::Key_Backspace, ID_EDIT_UNDO}, {Qt::SHIFT | Qt::Key_Delete, ID_EDIT_CUT},
        {Qt::CTRL | Qt::Key_C, ID_EDIT_COPY},        {Qt::CTRL | Qt::Key_Insert, ID_EDIT_COPY},
        {Qt::SHIFT | Qt::Key_Insert, ID_EDIT_PASTE}, {Qt::Key_F6, ID_NEXT_PANE},
        {Qt::SHIFT | Qt::Key_F6, ID_PREV_PANE},
    };
    StartProgram({});
    for (const auto& [key, nID] : keys) {
        QAction* pAction = Frame().GetAction(nID);
        ASSERT_NE(pAction, nullptr);
        EXPECT_TRUE(pAction->shortcuts().contains(key)) << key.toString().toStdString();
    }
    // Ctrl+N goes the whole way: a monitor window without a port.
    Frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Frame()));
    QTest::keyClick(&Frame(), Qt::Key_N, Qt::ControlModifier);
    ASSERT_NE(Frame().MDIGetActive(), nullptr);
    EXPECT_EQ(Frame().MDIGetActive()->windowTitle(), "Wirelet1");
    EXPECT_EQ(g_nOpenMonitors, 0);
}

// Save As through its dialog names the window and the profile's recent
// files; what the file holds is the document core's test.
TEST_F(ShellCommandTest, SaveAsNamesTheWindowAndTheRecentFilesAndPrintPrints) {
    StartProgram({Port(0)});
    CChildFrame* pFrame = Pick(Port(0));
    ASSERT_TRUE(WaitForSession(pFrame));
    const QString strFile = m_dir.path() + "/monitor.wlt";
    WhenModal<QFileDialog>([strFile](QFileDialog* pDialog) {
        EXPECT_EQ(pDialog->windowTitle(), "保存为");
        EXPECT_EQ(pDialog->nameFilters(), QStringList("所有文件 (*.*)"));
        pDialog->selectFile(strFile);
        QMetaObject::invokeMethod(pDialog, "accept");
    });
    EXPECT_TRUE(Frame().ExecuteCommand(ID_FILE_SAVE_AS));
    EXPECT_TRUE(QFileInfo::exists(strFile));
    EXPECT_EQ(pFrame->windowTitle(), "monitor.wlt");
    EXPECT_EQ(pFrame->GetReadPane()->Text(), SessionText().first) << "the panes stay";
    // Print sends the active pane to the printer.
    const QString strPdf = m_dir.path() + "/recv.pdf";
    Frame().GetPrinter().setOutputFormat(QPrinter::PdfFormat);
    Frame().GetPrinter().setOutputFileName(strPdf);
    WhenModal<QPrintDialog>([](QPrintDialog* pDialog) { pDialog->accept(); });
    EXPECT_TRUE(Frame().ExecuteCommand(ID_FILE_PRINT));
    QFile pdf(strPdf);
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");

    // Across a restart, in the profile and in the File menu.
    m_pApp->ExitInstance();
    TearDown(); // the same driver and profile stay
    SetAfxMessages(&m_messages);
    StartProgram({});
    EXPECT_EQ(m_pApp->GetRecentFileList().Files(), QStringList(strFile));
    Frame().UpdateCommandStates();
    EXPECT_EQ(Frame().GetAction(ID_FILE_MRU_FILE1)->text(), "&1 " + strFile);
    EXPECT_TRUE(Enabled(ID_FILE_MRU_FILE1));
}

TEST_F(ShellCommandTest, WindowCommandsArrangeAndListTheMonitorWindows) {
    StartProgram({Port(0), Port(1)});
    Pick(Port(0));
    Pick(Port(1));
    EXPECT_TRUE(Frame().ExecuteCommand(ID_WINDOW_NEW));
    ASSERT_EQ(Monitors(), 3u);
    EXPECT_EQ(g_pDocTemplate->GetDocumentCount(), 2u);

    const QRect area = Frame().GetMdiArea().viewport()->rect();
    EXPECT_TRUE(Frame().ExecuteCommand(ID_WINDOW_TILE_HORZ));
    for (QMdiSubWindow* pWindow : Frame().GetMdiArea().subWindowList())
        EXPECT_EQ(pWindow->width(), area.width());
    EXPECT_TRUE(Frame().ExecuteCommand(ID_WINDOW_TILE_VERT));
    for (QMdiSubWindow* pWindow : Frame().GetMdiArea().subWindowList())
        EXPECT_EQ(pWindow->height(), area.height());

    Frame().UpdateCommandStates();
    QMenu* pWindowMenu = Frame().menuBar()->actions()[3]->menu();
    emit pWindowMenu->aboutToShow();
    QStringList listed;
    for (QAction* pAction : pWindowMenu->actions())
        if (pAction->property("windowList").toBool() && !pAction->isSeparator())
            listed << pAction->text();
    EXPECT_EQ(listed.size(), 3);
    EXPECT_TRUE(listed[0].startsWith("&1 "));
}

} // namespace
