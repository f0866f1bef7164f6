#include "ShellResources.h"

#include <QPixmap>

// Outside the unnamed namespace: the macro declares the resource's own function.
static void InitOnce() {
    Q_INIT_RESOURCE(shell);
}

namespace {

constexpr int IMAGE_WIDTH = 16;

void InitShellResources() {
    static const bool s_bDone = (InitOnce(), true);
    (void)s_bDone;
}

} // namespace

QIcon ToolBarImage(int nIndex) {
    InitShellResources();
    static const QPixmap s_strip(QStringLiteral(":/res/toolbar128.png"));
    return QIcon(s_strip.copy(nIndex * IMAGE_WIDTH, 0, IMAGE_WIDTH, s_strip.height()));
}

QIcon ShellIcon(UINT nID) {
    InitShellResources();
    return QIcon(QStringLiteral(":/res/icon%1.png").arg(nID));
}
