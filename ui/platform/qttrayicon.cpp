#include "ui/platform/qttrayicon.h"

#include "ui/platform/icons.h"

#include <QMenu>

namespace tessaly {

namespace {
QIcon pictureIcon(TrayPicture p) { return p == TrayPicture::NewMail ? newMailIcon() : windowIcon(); }
} // namespace

QtTrayIcon::QtTrayIcon(QMenu* menu, QObject* parent) : TrayIcon(parent), icon_(this) {
    icon_.setContextMenu(menu);
    // A single click does what the double click does: desktops that show
    // tray icons as status notifier items report only single clicks.
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
            emit DoubleClicked();
    });
}

void QtTrayIcon::Add(TrayPicture picture, const QString& tip) {
    icon_.setIcon(pictureIcon(picture));
    icon_.setToolTip(tip.left(63)); // the tip field holds 64 characters with its terminator
    icon_.show();
}

void QtTrayIcon::Modify(TrayPicture picture) { icon_.setIcon(pictureIcon(picture)); }

} // namespace tessaly
