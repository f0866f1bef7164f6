// The About box: the program's icon, name and version, and two links, to the
// project's web page and to its mail address. Laid out as dialog template
// 100, in dialog units of its "宋体" 9 pt font.
#pragma once

#include "CLinkLabel.h"

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* HOME_TARGET = "https://wirelet.dev/";
    static constexpr const char* MAIL_TARGET = "mailto:wirelet@wirelet.dev";

    explicit CAboutDlg(QWidget* pParent = nullptr);

    CLinkLabel m_linkHome;
    CLinkLabel m_linkMail;

private:
    // Dialog units to pixels for this dialog's font.
    QRect MapDialogRect(int x, int y, int cx, int cy) const;
    void AddStatic(const QString& strText, int x, int y, int cx, int cy);
    void OnInitDialog();

    int m_nBaseX = 0;
    int m_nBaseY = 0;
};
