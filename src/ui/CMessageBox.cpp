#include "CMessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace {
bool g_bUnattended = false;
} // namespace

void CMessageBox::SetUnattended() {
    g_bUnattended = true;
}

void CMessageBox::ShowWarning(const std::string& strText) {
    const QString strCaption = QStringLiteral("wirelet");
    if (g_bUnattended) {
        std::fprintf(stderr, "wirelet: %s\n", strText.c_str());
        return;
    }
    QMessageBox box(QMessageBox::Warning, strCaption, QString::fromStdString(strText),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setAccessibleName(strCaption);
    box.setAccessibleDescription(box.text());
    box.exec();
}
