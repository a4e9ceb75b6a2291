#include "ui/resize/cresize.h"

#include "ui/resize/twips.h"
#include "platform/prompter.h"

#include <QWidget>
#include <algorithm>
#include <exception>

namespace tessaly {

namespace {

CResize::Geometry geometryOf(const QWidget* window, const QWidget* widget) {
    const QRect r = widget->geometry();
    return {pixelsToTwipsX(window->width()), pixelsToTwipsY(window->height()),
            QRect(pixelsToTwipsX(r.x()), pixelsToTwipsY(r.y()), pixelsToTwipsX(r.width()), pixelsToTwipsY(r.height()))};
}

} // namespace

void CResize::GetPositions(const Geometry& g) {
    const int rightEdge = g.widget.x() + g.widget.width();
    const int bottomEdge = g.widget.y() + g.widget.height();
    rightMargin_ = g.windowWidth - rightEdge;
    bottomMargin_ = g.windowHeight - bottomEdge;
}

void CResize::GetPositions(const QWidget* window, const QWidget* widget) { GetPositions(geometryOf(window, widget)); }

CResize::Geometry CResize::Resized(Geometry g) const {
    g.windowHeight = std::max(g.windowHeight, minHeight_);
    g.windowWidth = std::max(g.windowWidth, minWidth_);
    const int height = fixedHeight_ ? g.widget.height() : std::max(0, g.windowHeight - bottomMargin_ - g.widget.y());
    const int width = fixedWidth_ ? g.widget.width() : std::max(0, g.windowWidth - rightMargin_ - g.widget.x());
    if (fixedToBottom_)
        g.widget.moveTop(std::max(0, g.windowHeight - bottomMargin_ - g.widget.height()));
    g.widget.setHeight(height);
    g.widget.setWidth(width);
    return g;
}

void CResize::ResizeCtrl(QWidget* window, QWidget* widget) {
    try {
        const Geometry before = geometryOf(window, widget);
        const Geometry after = Resized(before);
        // The window cannot be dragged below its minimum size at all.
        window->setMinimumSize(twipsToPixelsX(minWidth_), twipsToPixelsY(minHeight_));
        if (after.windowWidth != before.windowWidth || after.windowHeight != before.windowHeight)
            window->resize(twipsToPixelsX(after.windowWidth), twipsToPixelsY(after.windowHeight));
        if (after.widget != before.widget)
            widget->setGeometry(twipsToPixelsX(after.widget.x()), twipsToPixelsY(after.widget.y()),
                                twipsToPixelsX(after.widget.width()), twipsToPixelsY(after.widget.height()));
    } catch (const std::exception& e) {
        if (prompter_)
            prompter_->messageBox(QStringLiteral("CResize::ResizeCtrl: ") + QString::fromLocal8Bit(e.what()));
    }
}

} // namespace tessaly
