#include "CosmeticResources.h"

static void InitOnce() {
    Q_INIT_RESOURCE(cosmetic);
}

void InitCosmeticResources() {
    static const bool s_bDone = (InitOnce(), true);
    (void)s_bDone;
}

QString BitmapResource(int nId) {
    InitCosmeticResources();
    return QStringLiteral(":/res/bitmap%1.bmp").arg(nId);
}
