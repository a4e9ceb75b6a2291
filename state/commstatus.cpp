#include "state/commstatus.h"

#include "state/appinfo.h"
#include "ground/textfmt.h"
#include "platform/settingsstore.h"

#include <algorithm>
#include <cmath>

namespace tessaly {

StatusWindow::StatusWindow(SettingsStore& store, QSize screenTwips, bool& cancelFlag)
    : store_(store), screen_(screenTwips), cancel_(cancelFlag) {}

QPoint StatusWindow::Placement(const SettingsStore& store, QSize screen, QSize window) {
    const int rightEdge = screen.width() - window.width();
    const int bottomEdge = screen.height() - window.height();
    auto stored = [&](const char* name, int fallback) {
        const QString text =
            store.read(kAppTitle, kSettingsSection, QString::fromLatin1(name), QString::number(fallback));
        const double v = leadingNumber(text);
        return std::isfinite(v) && std::abs(v) < 1e9 ? static_cast<int>(v) : fallback;
    };
    int left = stored("StatusLeft", rightEdge);
    int top = stored("StatusTop", bottomEdge);
    if (left > screen.width() || left + window.width() <= 0)
        left = rightEdge;
    if (top > screen.height() || top + window.height() <= 0)
        top = bottomEdge;
    return {left, top};
}

QPoint StatusWindow::FitFrame(const QRect& available, const QMargins& frame, const QSize& window,
                              const QPoint& wanted) {
    const int width = frame.left() + window.width() + frame.right();
    const int height = frame.top() + window.height() + frame.bottom();
    // Right and bottom first, so that a frame larger than the area keeps
    // its left and top edges inside it.
    const int left = std::max(std::min(wanted.x(), available.x() + available.width() - width), available.x());
    const int top = std::max(std::min(wanted.y(), available.y() + available.height() - height), available.y());
    return {left, top};
}

void StatusWindow::Load() {
    if (view_) {
        const QSize size = view_->SizeTwips();
        // The stored position and the default corner are taken against the
        // bottom right corner of the area windows may use; the view keeps
        // the frame inside that area.
        const QRect available = view_->AvailableTwips();
        const QSize corner = available.isEmpty()
                                 ? screen_
                                 : QSize(available.x() + available.width(), available.y() + available.height());
        view_->MoveTwips(Placement(store_, corner, size.isValid() ? size : QSize(kWidthTwips, kHeightTwips)));
    }
    loaded_ = true;
    cancel_ = false;
}

void StatusWindow::Show() {
    if (!loaded_)
        Load();
    if (view_)
        view_->ShowWindow();
}

void StatusWindow::Hide() {
    if (view_)
        view_->HideWindow();
}

void StatusWindow::Close() {
    if (!loaded_)
        return;
    if (view_)
        view_->CloseWindow();
    loaded_ = false;
}

void StatusWindow::Activated() { cancel_ = false; }

void StatusWindow::CancelClicked() {
    cancel_ = true;
    SetStatusLine(QStringLiteral("Cancelling"));
}

void StatusWindow::Closing() {
    if (!view_ || view_->IsMinimized())
        return;
    const QPoint p = view_->PositionTwips();
    store_.write(kAppTitle, kSettingsSection, QStringLiteral("StatusLeft"), QString::number(p.x()));
    store_.write(kAppTitle, kSettingsSection, QStringLiteral("StatusTop"), QString::number(p.y()));
}

void StatusWindow::SetStatusLine(const QString& text) {
    line_ = text;
    if (view_)
        view_->SetStatusText(text);
}

} // namespace tessaly
