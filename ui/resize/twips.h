#pragma once
// Window metrics are given in twips (1/1440 inch); widgets want pixels.

#include <QSize>

namespace tessaly {

// Logical dots per inch of the primary screen (96 when there is none).
double screenDpiX();
double screenDpiY();
int twipsToPixelsX(int twips);
int twipsToPixelsY(int twips);
int pixelsToTwipsX(int pixels);
int pixelsToTwipsY(int pixels);
// The primary screen's available size in twips (1024 x 768 pixels without a screen).
QSize screenSizeTwips();

} // namespace tessaly
