#include "CSplashWnd.h"

#include "CSplashSound.h"
#include "CosmeticResources.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QTimer>

CSplashWnd::CSplashWnd() : m_bitmap(BitmapResource(BITMAP_ID)) {
    CSplashSound::Play(QCoreApplication::applicationDirPath().toStdString() + "/" + WAVE_FILE);
}

bool CSplashWnd::CreateSplash() {
    if (m_bitmap.isNull())
        return false;
    // A splash hint rather than a plain frameless window: window managers
    // then neither decorate it nor place it themselves.
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("SplashWindow Sample"));
    setAccessibleName(QStringLiteral("wirelet"));
    setCursor(Qt::UpArrowCursor);
    // The picture covers every pixel, so there is no background to clear first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(m_bitmap.size());
    return true;
}

void CSplashWnd::CenterWindow() {
    const QRect rcWork = QGuiApplication::primaryScreen()->availableGeometry();
    move(rcWork.left() + (rcWork.width() - width()) / 2,
         rcWork.top() + (rcWork.height() - height()) / 2);
}

bool CSplashWnd::ShowFor(int nMilliseconds) {
    bool bPainted = false;
    QEventLoop loop;
    connect(this, &CSplashWnd::Painted, &loop, [&] {
        bPainted = true;
        loop.quit();
    });
    QTimer::singleShot(nMilliseconds, &loop, &QEventLoop::quit);
    show();
    // The loop ends after the paint event that emitted Painted has returned,
    // and so after the painted picture was flushed to the window.
    if (!bPainted)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!bPainted)
        return false;
    QGuiApplication::sync();
    QThread::msleep(static_cast<unsigned long>(nMilliseconds));
    return true;
}

void CSplashWnd::ShowSplashScreen(int nMilliseconds) {
    CSplashWnd wndSplash;
    if (!wndSplash.CreateSplash())
        return;
    wndSplash.CenterWindow();
    wndSplash.ShowFor(nMilliseconds);
}

void CSplashWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, m_bitmap);
    emit Painted();
}
