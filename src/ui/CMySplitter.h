// The static two-row splitter of a monitor window: the receive pane over the
// send pane. Dragging a row below its minimum height collapses it.
#pragma once

#include <QSplitter>

class CMySplitter : public QSplitter {
public:
    explicit CMySplitter(QWidget* pParent = nullptr) : QSplitter(Qt::Vertical, pParent) {
        setChildrenCollapsible(true);
    }
};
