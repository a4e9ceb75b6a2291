#include "state/commstatus.h"

#include "state/appinfo.h"
#include "ground/textfmt.h"
#include "platform/settingsstore.h"

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

void StatusWindow::Load() {
    if (view_) {
        const QSize size = view_->SizeTwips();
        view_->MoveTwips(Placement(store_, screen_, size.isValid() ? size : QSize(kWidthTwips, kHeightTwips)));
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
