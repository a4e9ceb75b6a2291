#pragma once
// The main cycle: the one-minute tick that runs the schedule, the manual
// check commands, and the two master switches (schedule and paging) with
// their check boxes and tray menu items.

#include "app/scheduler.h"

#include <functional>

namespace tessaly {

class MainProgram;

class MainCycle {
public:
    // The mail check: (download, page).
    using CheckEntry = std::function<void(bool download, bool page)>;

    explicit MainCycle(MainProgram& program);

    void SetCheckEntry(CheckEntry entry) { check_ = std::move(entry); }
    bool HasCheckEntry() const { return static_cast<bool>(check_); }
    // True while the serial port is open (a page is being sent).
    void SetPortBusyTest(std::function<bool()> busy) { portBusy_ = std::move(busy); }

    // tmrMinute.
    void OnMinuteTick();
    // "Check Mail Now": download, never page.
    void CheckMailNow();
    // Tray "Check for mail": download flag, never page.
    void TrayCheckMail();
    // Toolbar "checkmail": download flag and the paging switch.
    void ToolbarCheckMail();

    // The check boxes as the user clicks them (the new state).
    void ScheduleCheckBoxClicked(bool checked);
    void PagingCheckBoxClicked(bool checked);
    // Setting a check box from the program: a change runs its click
    // behaviour, the same state does nothing.
    void SetScheduleCheckBox(bool checked);
    void SetPagingCheckBox(bool checked);
    bool ScheduleCheckBox() const { return scheduleBox_; }
    bool PagingCheckBox() const { return pagingBox_; }
    bool ScheduleMenuCheck() const { return scheduleMenu_; }
    bool PagingMenuCheck() const { return pagingMenu_; }

    // Tray menu "Enable Schedule" / "Enable Paging" chosen.
    void EnableScheduleChosen();
    void EnablePagingChosen();
    // Check boxes and menu checks from the two flags.
    void SyncSwitches();

    Scheduler& GetScheduler() { return scheduler_; }

private:
    void runCheck(bool download, bool page);
    void setScheduleMenu(bool on);
    void setPagingMenu(bool on);

    MainProgram& program_;
    Scheduler scheduler_;
    CheckEntry check_;
    std::function<bool()> portBusy_;
    bool scheduleBox_ = false;
    bool pagingBox_ = false;
    bool scheduleMenu_ = false;
    bool pagingMenu_ = false;
    QString reportedBadTime_;
};

} // namespace tessaly
