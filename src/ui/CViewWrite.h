// The send pane: what was written to the port, green on black.
#pragma once

#include "CDocument.h"
#include "CPaneView.h"

class CViewWrite : public CPaneView {
    Q_OBJECT

public:
    explicit CViewWrite(QWidget* pParent = nullptr);

protected:
    CPaneStore& StoreOf(CDocument& document) const override { return document.GetWriteStore(); }
};
