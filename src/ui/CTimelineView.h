// The timeline's rows as drawn: only the lines in sight are asked of the
// model and painted, so a full timeline costs what a screenful costs. The
// view follows the end while it is at the end, and keeps its place
// otherwise. Each process has its own background colour; the matches of a
// find are highlighted, the current line framed.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <optional>

class CTimelineModel;

class CTimelineView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // How often the view looks for new rows.
    static constexpr int REFRESH_MS = 50;

    explicit CTimelineView(QWidget* pParent = nullptr);

    void SetModel(CTimelineModel* pModel);
    // The framed line, from which a find goes on; empty before any.
    std::optional<std::size_t> CurrentLine() const { return m_nCurrent; }
    // Frames the line and scrolls it into sight.
    void ShowLine(std::size_t nLine);
    // Takes what changed in the model: the scroll range, the end followed.
    void Refresh();

    // The background of a process's rows, by its palette index.
    static QColor ProcessColour(int nColour);

signals:
    // The model showed something new (new rows, a new process).
    void modelChanged();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;

private:
    int VisibleLines() const;
    void UpdateScrollBars();
    void DrawLine(class QPainter& painter, std::size_t nLine, int y) const;
    void DescribeCurrentLine();

    CTimelineModel* m_pModel = nullptr;
    QFont m_font;
    int m_nLineHeight = 1;
    int m_nAscent = 0;
    int m_nCharWidth = 1;
    std::optional<std::size_t> m_nCurrent;
    std::uint64_t m_qwRevision = 0;
    QTimer m_refreshTimer;
};
