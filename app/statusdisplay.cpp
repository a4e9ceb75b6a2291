#include "app/statusdisplay.h"

#include "state/appinfo.h"
#include "app/mainprogram.h"
#include "app/mainview.h"
#include "platform/eventpump.h"
#include "platform/sounddevice.h"

#include <algorithm>

namespace tessaly {

StatusDisplay::StatusDisplay(MainProgram& program, TrayIcon* tray) : program_(program), tray_(tray) {}

void StatusDisplay::UpdateEmailDisplay(int total) {
    const int n = newCount_ ? newCount_() : 0;
    const LiveSettings& s = program_.Settings();
    MainView& view = program_.View();
    if (total > 0) {
        if (n > 0 && n != lastNewCount_ && s.soundEnabled)
            program_.Platform().sound.Sound(s.soundFile);
        if (n > 0 || NewMailFlag()) {
            if (view.IsMinimized() && s.trayFlag)
                program_.BlinkTimer().start();
            else
                StopBlinking();
        } else {
            StopBlinking();
        }
        view.SetStatusPanel(QStringLiteral("messages"),
                            s.downloadFlag ? QStringLiteral("%1 New Message(s) : %2 Total").arg(n).arg(total)
                                           : QStringLiteral("%1 Message(s)").arg(total));
    } else {
        view.SetStatusPanel(QStringLiteral("messages"), QStringLiteral("No Messages"));
        StopBlinking();
    }
    lastNewCount_ = static_cast<std::int16_t>(std::clamp(n, -32768, 32767));
}

void StatusDisplay::StopBlinking() {
    program_.BlinkTimer().stop();
    picture_ = TrayPicture::Window;
    TrayModify();
}

void StatusDisplay::OnBlinkTick() {
    if (!program_.View().IsMinimized() || !program_.Settings().trayFlag)
        return;
    if (blinkPhase_) {
        picture_ = TrayPicture::NewMail;
        blinkPhase_ = false;
    } else {
        picture_ = TrayPicture::Window;
        blinkPhase_ = true;
    }
    TrayModify();
}

void StatusDisplay::TrayMain() {
    if (tray_)
        tray_->Add(picture_, kAppTitle);
    if (!alarm_.isEmpty())
        ShowAlarm(alarm_);
    program_.View().HideWindow();
}

void StatusDisplay::TrayModify() {
    if (tray_ && tray_->IsShown())
        tray_->Modify(picture_);
}

void StatusDisplay::TrayRemove() {
    if (tray_)
        tray_->Remove();
}

// Without a system tray there is nowhere to go: the window stays a normal
// minimised window, as when the tray flag is off.
void StatusDisplay::WindowMinimized() {
    if (!program_.Settings().trayFlag || !tray_ || !tray_->IsSystemTrayAvailable())
        return;
    program_.View().SetToolbarVisible(false);
    TrayMain();
    // The display is refreshed with what the inbox holds, so minimising
    // neither hides the message count nor stops a blink that is due.
    UpdateEmailDisplay(total_ ? total_() : 0);
}

void StatusDisplay::WindowRestored() {
    MainView& view = program_.View();
    view.SetToolbarVisible(true);
    view.RepaintStatusBar();
    program_.Platform().pump.yield();
    view.RepaintStatusBar();
}

// The window comes back from the tray or the taskbar, or to the front when
// it is open behind other windows.
void StatusDisplay::TrayDoubleClicked() { program_.View().RestoreWindow(); }

void StatusDisplay::ShowAlarm(const QString& text) {
    alarm_ = text;
    program_.View().SetAlarm(text);
    if (tray_ && tray_->IsShown())
        tray_->SetTip(text.isEmpty() ? kAppTitle : kAppTitle + QStringLiteral(" - ALARM: ") + text);
}

bool StatusDisplay::NewMailFlag() const { return program_.State().newMailFlag; }
void StatusDisplay::SetNewMailFlag(bool on) { program_.State().newMailFlag = on; }

} // namespace tessaly
