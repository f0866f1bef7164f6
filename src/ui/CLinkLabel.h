// A static text that behaves as a hyperlink: link, hover and visited colours,
// an optional underline, the hand cursor, a tooltip with its target; a click
// (or Space or Enter when it has the focus) opens the target.
//
// Its owner gives it its text, font and geometry and then calls Attach, as
// a dialog template's static control is turned into a link.
#pragma once

#include <QColor>
#include <QLabel>

class CLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit CLinkLabel(QWidget* pParent = nullptr);

    void Attach();
    void SetTarget(const QString& strTarget);
    const QString& GetTarget() const { return m_strTarget; }
    void SetVisited(bool bVisited);
    void SetUnderlined(bool bUnderlined);

protected:
    void enterEvent(QEnterEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void FitToText();
    void ApplyFont();
    void ApplyColour();
    void SetHover(bool bHover);
    void OnClicked();
    void ShowOpenError(int nCode);
    QColor TextColour() const;

    QColor m_crLink{0, 0, 238};
    QColor m_crVisited{85, 26, 139};
    QColor m_crHover;
    bool m_bHover = false;
    bool m_bVisited = false;
    bool m_bUnderlined = true;
    bool m_bFitToText = true;
    bool m_bAttached = false;
    QString m_strTarget;
};
