// Shows the splash or the About box on the current display and saves what
// the display shows of it:
//     wirelet_cosmetic_demo splash|about OUTPUT.png
#include "CAboutDlg.h"
#include "CSplashWnd.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>

#include <cstdio>
#include <cstring>

namespace {

// Lets the display paint the window, then reads the screen back.
bool SaveScreenOf(QWidget& window, const char* pszPath) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 500)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    const QRect rc = window.frameGeometry();
    return window.screen()->grabWindow(0, rc.x(), rc.y(), rc.width(), rc.height()).save(pszPath);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("wirelet"));
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s splash|about OUTPUT.png\n", argv[0]);
        return 2;
    }
    if (std::strcmp(argv[1], "splash") == 0) {
        CSplashWnd wndSplash;
        if (!wndSplash.CreateSplash())
            return 1;
        wndSplash.CenterWindow();
        wndSplash.show();
        return SaveScreenOf(wndSplash, argv[2]) ? 0 : 1;
    }
    CAboutDlg dlg;
    dlg.show();
    return SaveScreenOf(dlg, argv[2]) ? 0 : 1;
}
