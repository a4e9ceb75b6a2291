#pragma once
// The system tray icon of the main window: add, modify (picture), remove,
// and the user's double click. The pop-up menu is attached by the window.

#include <QObject>
#include <QString>

namespace tessaly {

enum class TrayPicture { Window, NewMail };

class TrayIcon : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // False when the desktop has no system tray; minimising then leaves a
    // normal minimised window.
    virtual bool IsSystemTrayAvailable() const = 0;
    virtual void Add(TrayPicture picture, const QString& tip) = 0;
    virtual void Modify(TrayPicture picture) = 0;
    virtual void Remove() = 0;
    virtual bool IsShown() const = 0;
    // Replaces the tip of the shown icon.
    virtual void SetTip(const QString& tip) { (void)tip; }

signals:
    void DoubleClicked();
};

} // namespace tessaly
