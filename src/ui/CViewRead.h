// The receive pane: what the port received, black on white.
#pragma once

#include "CPaneView.h"

class CViewRead : public CPaneView {
    Q_OBJECT

public:
    explicit CViewRead(QWidget* pParent = nullptr);
};
