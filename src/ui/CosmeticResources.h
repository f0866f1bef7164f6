// The pictures and the chime of the cosmetic windows live in a Qt resource
// compiled into this static library; a static library's resources are only
// linked in when something calls their initialiser, which this does once.
#pragma once

#include <QString>

void InitCosmeticResources();

// ":/res/bitmapN.bmp", the resource path of bitmap N.
QString BitmapResource(int nId);
