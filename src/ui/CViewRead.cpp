#include "CViewRead.h"

CViewRead::CViewRead(QWidget* pParent)
    : CPaneView({.crText = QColor(0, 0, 0),
                 .crBack = QColor(255, 255, 255),
                 .strName = QStringLiteral("接收窗口"),
                 .strExportTitle = QStringLiteral("串口接收数据"),
                 .strExportFile = QStringLiteral("recv.txt")},
                pParent) {}
