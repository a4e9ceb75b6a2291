#pragma once

#include "platform/trayicon.h"

#include <QSystemTrayIcon>

class QMenu;

namespace tessaly {

// The tray icon through QSystemTrayIcon; right click opens `menu`, a click
// or double click is reported as DoubleClicked.
class QtTrayIcon : public TrayIcon {
    Q_OBJECT
public:
    explicit QtTrayIcon(QMenu* menu, QObject* parent = nullptr);
    bool IsSystemTrayAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
    void Add(TrayPicture picture, const QString& tip) override;
    void Modify(TrayPicture picture) override;
    void Remove() override { icon_.hide(); }
    bool IsShown() const override { return icon_.isVisible(); }
    void SetTip(const QString& tip) override { icon_.setToolTip(tip.left(63)); }

private:
    QSystemTrayIcon icon_;
};

} // namespace tessaly
