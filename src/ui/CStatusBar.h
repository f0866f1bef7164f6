// The main window's status bar: the message pane with its idle text, then
// Caps, Num and Scroll Lock, each showing its name while its lock is on.
// What befell a monitor's capture stands in place of the idle text, beside
// what befell the other monitors, until that monitor closes, so that no menu
// prompt or later line wipes it out.
#pragma once

#include <QStatusBar>

#include <map>

class QLabel;

class CStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CStatusBar(QWidget* pParent = nullptr);

    void ShowPortNotice(const QString& strPortName, const QString& strText);
    // The port's monitor closed.
    void ForgetPort(const QString& strPortName);
    void UpdateIndicators();

private:
    void ShowPortNotices();

    QLabel* m_wndIdleText;
    QLabel* m_wndIndicators[3];
    std::map<QString, QString> m_portNotices;
};
