// What one paint of the frame background costs, by client size: the whole
// paint as the MDI area does it (the picture decoded afresh, then stretched),
// and its two parts on their own. Offscreen, so no display's cost is in it.
#include "CMdiBackground.h"
#include "CosmeticResources.h"

#include <QApplication>
#include <QPainter>

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int ROUNDS = 40;

template <typename F> double MillisecondsPerRound(F&& fnRound) {
    fnRound();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < ROUNDS; ++i)
        fnRound();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / ROUNDS;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (int nId : {CMdiBackground::FIRST_BITMAP_ID, CMdiBackground::ALTERNATE_BITMAP_ID})
        std::printf("decoding bitmap %d alone: %.2f ms\n", nId,
                    MillisecondsPerRound([&] { (void)QImage(BitmapResource(nId)).width(); }));
    const QImage picture(BitmapResource(CMdiBackground::FIRST_BITMAP_ID));
    std::printf("%-11s %12s %14s %22s\n", "client", "paint (ms)", "stretch (ms)",
                "uncover 300x200 (ms)");
    for (const QSize& size : {QSize(800, 600), QSize(1920, 1080), QSize(3840, 2160)}) {
        CMdiBackground area;
        area.resize(size);
        area.show();
        QApplication::processEvents();
        const QSize client = area.viewport()->size();
        const double dPaint = MillisecondsPerRound([&] { area.viewport()->repaint(); });
        // What moving a monitor window over the background repaints.
        const double dUncover =
            MillisecondsPerRound([&] { area.viewport()->repaint(QRect(100, 100, 300, 200)); });
        QImage target(client, QImage::Format_RGB32);
        const double dStretch = MillisecondsPerRound([&] {
            QPainter painter(&target);
            painter.drawImage(target.rect(), picture);
        });
        std::printf("%4dx%-6d %12.2f %14.2f %22.2f\n", client.width(), client.height(), dPaint,
                    dStretch, dUncover);
    }
    return 0;
}
