// The send pane: what was written to the port, green on black.
#pragma once

#include "CPaneView.h"

class CViewWrite : public CPaneView {
    Q_OBJECT

public:
    explicit CViewWrite(QWidget* pParent = nullptr);
};
