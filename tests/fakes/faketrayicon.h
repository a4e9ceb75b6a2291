#pragma once
// A tray icon that records what was asked of it.

#include "platform/trayicon.h"

#include <QList>

namespace tessaly {

class FakeTrayIcon : public TrayIcon {
public:
    bool IsSystemTrayAvailable() const override { return available; }
    void Add(TrayPicture p, const QString& t) override {
        shown = true;
        picture = p;
        tip = t;
        ++adds;
    }
    void Modify(TrayPicture p) override {
        picture = p;
        pictures << p;
    }
    void Remove() override { shown = false; }
    bool IsShown() const override { return shown; }
    void SetTip(const QString& t) override { tip = t; }
    void doubleClick() { emit DoubleClicked(); }

    bool available = true;
    bool shown = false;
    int adds = 0;
    TrayPicture picture = TrayPicture::Window;
    QList<TrayPicture> pictures; // every Modify, in order
    QString tip;
};

} // namespace tessaly
