#include "MdiWindowLayout.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>

namespace MdiWindowLayout {

void TileWindows(QMdiArea& area, bool bStacked) {
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* pWindow : area.subWindowList())
        if (pWindow->isVisible() && !pWindow->isMinimized())
            windows.append(pWindow);
    if (windows.isEmpty())
        return;
    const QRect rect = area.viewport()->rect();
    const int nCount = static_cast<int>(windows.size());
    for (int i = 0; i < nCount; ++i) {
        windows[i]->showNormal();
        if (bStacked) {
            const int y0 = rect.height() * i / nCount, y1 = rect.height() * (i + 1) / nCount;
            windows[i]->setGeometry(0, y0, rect.width(), y1 - y0);
        } else {
            const int x0 = rect.width() * i / nCount, x1 = rect.width() * (i + 1) / nCount;
            windows[i]->setGeometry(x0, 0, x1 - x0, rect.height());
        }
    }
}

void ArrangeIcons(QMdiArea& area) {
    const QRect rect = area.viewport()->rect();
    int x = 0;
    for (QMdiSubWindow* pWindow : area.subWindowList()) {
        if (!pWindow->isMinimized())
            continue;
        pWindow->move(x, rect.height() - pWindow->height());
        x += pWindow->width();
    }
}

void FillWindowList(QMenu& menu, QMdiArea& area) {
    for (QAction* pAction : menu.actions())
        if (pAction->property("windowList").toBool())
            delete pAction;
    const QList<QMdiSubWindow*> windows = area.subWindowList();
    if (windows.isEmpty())
        return;
    menu.addSeparator()->setProperty("windowList", true);
    for (int i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* pWindow = windows[i];
        QAction* pAction =
            menu.addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(pWindow->windowTitle()));
        pAction->setProperty("windowList", true);
        pAction->setCheckable(true);
        pAction->setChecked(pWindow == area.currentSubWindow());
        QObject::connect(pAction, &QAction::triggered, &area, [&area, pWindow] {
            if (area.subWindowList().contains(pWindow))
                area.setActiveSubWindow(pWindow);
        });
    }
}

} // namespace MdiWindowLayout
