#include "CViewWrite.h"

CViewWrite::CViewWrite(QWidget* pParent)
    : CPaneView({.crText = QColor(0, 255, 0),
                 .crBack = QColor(0, 0, 0),
                 .strName = QStringLiteral("发送窗口"),
                 .strExportTitle = QStringLiteral("串口发送数据"),
                 .strExportFile = QStringLiteral("send.txt")},
                pParent) {}
