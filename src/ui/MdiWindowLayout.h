// The Window menu's arrangements of the monitor windows, and its list of them.
#pragma once

class QMdiArea;
class QMenu;

namespace MdiWindowLayout {

// The shown windows stacked (bStacked) or side by side, each as long as the area.
void TileWindows(QMdiArea& area, bool bStacked);
// Minimised windows in a row along the bottom of the area.
void ArrangeIcons(QMdiArea& area);
// Replaces the window entries at the end of pMenu by one numbered entry per
// window, the active one checked; an entry activates its window.
void FillWindowList(QMenu& menu, QMdiArea& area);

} // namespace MdiWindowLayout
