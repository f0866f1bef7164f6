#include "PaneExport.h"
#include "CMessageBox.h"
#include "CRecordingMessageBox.h"
#include "CViewRead.h"
#include "CViewWrite.h"
#include "Process.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

struct CDialogSeen {
    QString strTitle, strName;
    QStringList filters;
};

class PaneExportTest : public testing::Test {
protected:
    void SetUp() override { SetAfxMessages(&m_messages); }
    void TearDown() override { SetAfxMessages(nullptr); }

    // Runs the pane's Save, answering its dialog with strPath.
    CDialogSeen Save(CPaneView& pane, const QString& strPath) {
        CDialogSeen seen;
        QTimer::singleShot(0, [&] {
            auto* pDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(pDialog, nullptr);
            auto* pName = pDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            seen = {pDialog->windowTitle(), pName->text(), pDialog->nameFilters()};
            pName->setText(strPath); // typed, as a user would
            QMetaObject::invokeMethod(pDialog, "accept");
        });
        pane.OnFileSave();
        return seen;
    }

    QTemporaryDir m_dir;
    CRecordingMessageBox m_messages;
    CViewRead m_read;
    CViewWrite m_write;
};

TEST_F(PaneExportTest, WritesTheCodeUnitsUnderTheNameTheDialogGivesOrSaysWhyNot) {
    m_write.AppendText(u"AB\r\n");
    const struct {
        CPaneView* pPane;
        const char* pszTitle;
        const char* pszFile;
        std::string bytes;
    } cases[] = {
        {&m_read, "串口接收数据", "recv.txt", ""},
        {&m_write, "串口发送数据", "send.txt", std::string("A\0B\0\r\0\n\0", 8)},
    };
    for (const auto& c : cases) {
        const QString strBase = m_dir.filePath(QString::fromUtf8(c.pszFile).chopped(4));
        const CDialogSeen seen = Save(*c.pPane, strBase);
        EXPECT_EQ(seen.strTitle, QString::fromUtf8(c.pszTitle));
        EXPECT_EQ(seen.strName, QString::fromUtf8(c.pszFile));
        EXPECT_EQ(seen.filters, QStringList{QStringLiteral("*.txt")});
        EXPECT_EQ(ReadText((strBase + QStringLiteral(".txt")).toStdString()), c.bytes) << c.pszFile;
    }
    // An unwritable path is reported, the only message.
    const QString strPath = m_dir.filePath(QStringLiteral("missing/out.txt"));
    Save(m_write, strPath);
    EXPECT_EQ(m_messages.m_messages,
              std::vector<std::string>{strPath.toStdString() + " 中包含无效的路径。"});
}

// Failures the dialog would not let through, reported with their causes.
TEST_F(PaneExportTest, EachCauseHasItsText) {
    const std::string strDir = m_dir.path().toStdString();
    const struct {
        std::string strPath;
        std::string strMessage;
    } cases[] = {
        {"/dev/full", "对 /dev/full 的存取被拒绝。"}, // only a regular file gets an export
        {strDir, "对 " + strDir + " 的存取被拒绝。"},
        {strDir + "/a", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PaneExport::Save(c.strPath, u"AB").value_or(""), c.strMessage) << c.strPath;
}

} // namespace
