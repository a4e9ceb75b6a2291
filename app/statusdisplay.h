#pragma once
// What the user sees of new mail: the status bar's message panel, the new
// mail sound, the tray icon and its blinking, and minimising to the tray.

#include "platform/trayicon.h"

#include <QString>
#include <cstdint>
#include <functional>

namespace tessaly {

class MainProgram;

class StatusDisplay {
public:
    StatusDisplay(MainProgram& program, TrayIcon* tray);

    // Number of new messages in the inbox (0 until an inbox is attached).
    void SetNewMailCounter(std::function<int()> counter) { newCount_ = std::move(counter); }
    // Number of messages in the inbox (0 until an inbox is attached).
    void SetTotalCounter(std::function<int()> counter) { total_ = std::move(counter); }

    // After a check: status panel, sound, blinking.
    void UpdateEmailDisplay(int total);
    void StopBlinking();
    void OnBlinkTick();

    // The main window was minimised / restored / its tray icon clicked or
    // double-clicked.
    void WindowMinimized();
    void WindowRestored();
    void TrayDoubleClicked();

    void TrayMain();
    void TrayModify();
    void TrayRemove();

    // The alarm that a page could not be delivered: shown in the window
    // and the tray until acknowledged; empty: none.
    void ShowAlarm(const QString& text);
    QString AlarmShown() const { return alarm_; }

    bool NewMailFlag() const;
    void SetNewMailFlag(bool on);
    std::int16_t LastNewCount() const { return lastNewCount_; }
    TrayPicture CurrentPicture() const { return picture_; }
    bool BlinkPhase() const { return blinkPhase_; }

private:
    MainProgram& program_;
    TrayIcon* tray_;
    std::function<int()> newCount_;
    std::function<int()> total_;
    TrayPicture picture_ = TrayPicture::Window;
    bool blinkPhase_ = false;
    std::int16_t lastNewCount_ = 0;
    QString alarm_;
};

} // namespace tessaly
