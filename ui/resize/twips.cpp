#include "ui/resize/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace tessaly {

namespace {
QScreen* primary() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::primaryScreen() : nullptr;
}
} // namespace

double screenDpiX() {
    QScreen* s = primary();
    return s ? s->logicalDotsPerInchX() : 96.0;
}
double screenDpiY() {
    QScreen* s = primary();
    return s ? s->logicalDotsPerInchY() : 96.0;
}
int twipsToPixelsX(int twips) { return static_cast<int>(std::lround(twips * screenDpiX() / 1440.0)); }
int twipsToPixelsY(int twips) { return static_cast<int>(std::lround(twips * screenDpiY() / 1440.0)); }
int pixelsToTwipsX(int pixels) { return static_cast<int>(std::lround(pixels * 1440.0 / screenDpiX())); }
int pixelsToTwipsY(int pixels) { return static_cast<int>(std::lround(pixels * 1440.0 / screenDpiY())); }

QSize screenSizeTwips() {
    QScreen* s = primary();
    const QSize px = s ? s->size() : QSize(1024, 768);
    return {pixelsToTwipsX(px.width()), pixelsToTwipsY(px.height())};
}

} // namespace tessaly
