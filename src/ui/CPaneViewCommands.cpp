#include "AfxMessages.h"
#include "CMainFrame.h"
#include "CPaneView.h"
#include "PaneExport.h"
#include "Resource.h"

#include <QFile>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>
#include <QTextOption>

bool CPaneView::OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) {
    static constexpr CCommandEntry<CPaneView> MAP[] = {
        {ID_FILE_SAVE, &CPaneView::OnFileSave, nullptr},
        {ID_FILE_PRINT, &CPaneView::OnFilePrint, nullptr},
        {ID_EDIT_COPY, &CPaneView::Copy, &CPaneView::OnUpdateEditCopy},
        {ID_EDIT_SELECT_ALL, &CPaneView::SelectAll, nullptr},
        {ID_EDIT_UNDO, nullptr, &CPaneView::OnUpdateNeedsWritablePane},
        {ID_EDIT_CUT, nullptr, &CPaneView::OnUpdateNeedsWritablePane},
        {ID_EDIT_PASTE, nullptr, &CPaneView::OnUpdateNeedsWritablePane},
    };
    return DispatchCmdMsg<CPaneView>(this, MAP, nID, eMsg, pCmdUI);
}

void CPaneView::OnUpdateEditCopy(CCmdUI* pCmdUI) {
    pCmdUI->Enable(HasSelection());
}

// The panes are read-only: there is nothing to undo, cut or paste into.
void CPaneView::OnUpdateNeedsWritablePane(CCmdUI* pCmdUI) {
    pCmdUI->Enable(false);
}

void CPaneView::OnFileSave() {
    QFileDialog dialog(window(), m_style.strExportTitle);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("*.txt"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(m_style.strExportFile);
    dialog.setAccessibleName(m_style.strExportTitle);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString strPath = dialog.selectedFiles().constFirst();
    if (const auto strError =
            PaneExport::Save(QFile::encodeName(strPath).toStdString(), m_pStore->View()))
        AfxMessages().ShowWarning(*strError);
}

void CPaneView::OnFilePrint() {
    CMainFrame* pMainFrame = AfxGetMainFrame();
    if (pMainFrame == nullptr)
        return;
    QPrintDialog dialog(&pMainFrame->GetPrinter(), window());
    // The dialog is named after the command: its tooltip.
    dialog.setWindowTitle(
        QString::fromUtf8(LoadResourceString(ID_FILE_PRINT)).section(u'\n', 1, 1));
    dialog.setAccessibleName(dialog.windowTitle());
    if (dialog.exec() == QDialog::Accepted)
        PrintTo(pMainFrame->GetPrinter());
}

// The whole text in the pane's font, with the monitor's tab stops.
void CPaneView::PrintTo(QPrinter& printer) const {
    const std::u16string text = Text();
    QString strText = QString::fromUtf16(text.data(), qsizetype(text.size()));
    strText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextDocument document;
    document.setDefaultFont(m_font);
    QTextOption option = document.defaultTextOption();
    QList<QTextOption::Tab> tabs;
    for (const int nUnits : MONITOR_TAB_STOPS)
        if (nUnits > 0)
            tabs.append(QTextOption::Tab(nUnits * 2, QTextOption::LeftTab));
    option.setTabs(tabs);
    option.setWrapMode(QTextOption::NoWrap);
    document.setDefaultTextOption(option);
    document.setPlainText(strText);
    document.print(&printer);
}
