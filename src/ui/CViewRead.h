// The receive pane: what the port received, black on white.
#pragma once

#include "CDocument.h"
#include "CPaneView.h"

class CViewRead : public CPaneView {
    Q_OBJECT

public:
    explicit CViewRead(QWidget* pParent = nullptr);

protected:
    CPaneStore& StoreOf(CDocument& document) const override { return document.GetReadStore(); }
};
