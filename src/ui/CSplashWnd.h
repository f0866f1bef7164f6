// The start-up splash: a borderless window at the picture's natural size in
// the middle of the work area, with the start-up chime.
//
// Start-up shows it with one call, before anything else is built:
//     CSplashWnd::ShowSplashScreen(3000);
// which returns once the picture has been on screen for those 3000 ms.
#pragma once

#include <QImage>
#include <QWidget>

class CSplashWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr int BITMAP_ID = 138;
    static constexpr const char* WAVE_FILE = "res/SplashWindow.wav";

    // Starts the chime (relative to the program's directory, where it is
    // built and installed) and loads the picture.
    CSplashWnd();

    // Gives the window its size, title and cursor; still hidden. False when
    // the picture could not be loaded.
    bool CreateSplash();
    // Centres the window in the work area of the primary screen.
    void CenterWindow();
    // Shows the window, lets the user-interface thread paint it and bring it
    // on screen (nothing else: input is held back), then blocks the thread for
    // nMilliseconds. A window that the display does not paint within
    // nMilliseconds is not waited for any longer; the result says whether it
    // was painted.
    bool ShowFor(int nMilliseconds);

    // All that start-up does with the splash: create, centre, show for
    // nMilliseconds, destroy.
    static void ShowSplashScreen(int nMilliseconds);

signals:
    void Painted();

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QImage m_bitmap;
};
