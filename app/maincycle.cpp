#include "app/maincycle.h"

#include "app/mainprogram.h"
#include "app/mainview.h"
#include "platform/eventpump.h"

namespace tessaly {

MainCycle::MainCycle(MainProgram& program) : program_(program), scheduler_(program.Settings()) {}

void MainCycle::runCheck(bool download, bool page) {
    if (check_)
        check_(download, page);
}

void MainCycle::OnMinuteTick() {
    program_.Platform().pump.yield();
    if (portBusy_ && portBusy_())
        return;
    if (!program_.Settings().scheduleEnabled)
        return;
    const bool due = scheduler_.ScheduleTick(program_.Platform().pump.now());
    // A window that cannot be read never runs; say so once per bad text.
    const QString bad = scheduler_.BadTimeText();
    if (!bad.isEmpty() && bad != reportedBadTime_)
        program_.LogActivity(QStringLiteral("Schedule time \"%1\" is not a time of day; no scheduled checks").arg(bad));
    reportedBadTime_ = bad;
    if (due)
        runCheck(program_.Settings().downloadFlag, program_.Settings().pagingEnabled);
}

void MainCycle::CheckMailNow() { runCheck(true, false); }
void MainCycle::TrayCheckMail() { runCheck(program_.Settings().downloadFlag, false); }
void MainCycle::ToolbarCheckMail() { runCheck(program_.Settings().downloadFlag, program_.Settings().pagingEnabled); }

void MainCycle::setScheduleMenu(bool on) {
    scheduleMenu_ = on;
    program_.View().SetScheduleMenuCheck(on);
}

void MainCycle::setPagingMenu(bool on) {
    pagingMenu_ = on;
    program_.View().SetPagingMenuCheck(on);
}

void MainCycle::ScheduleCheckBoxClicked(bool checked) {
    scheduleBox_ = checked;
    program_.View().SetScheduleSwitch(checked);
    program_.Settings().scheduleEnabled = checked;
    setScheduleMenu(checked);
    if (checked)
        program_.MinuteTimer().start();
    program_.SetProfileChanged(true);
}

void MainCycle::PagingCheckBoxClicked(bool checked) {
    pagingBox_ = checked;
    program_.View().SetPagingSwitch(checked);
    program_.Settings().pagingEnabled = checked;
    setPagingMenu(checked);
    program_.UpdateSettings();
    program_.SetProfileChanged(true);
}

void MainCycle::SetScheduleCheckBox(bool checked) {
    if (checked != scheduleBox_)
        ScheduleCheckBoxClicked(checked);
}

void MainCycle::SetPagingCheckBox(bool checked) {
    if (checked != pagingBox_)
        PagingCheckBoxClicked(checked);
}

void MainCycle::EnableScheduleChosen() {
    setScheduleMenu(!scheduleMenu_);
    program_.Settings().scheduleEnabled = scheduleMenu_;
    program_.SetProfileChanged(true);
    SyncSwitches();
}

void MainCycle::EnablePagingChosen() {
    setPagingMenu(!pagingMenu_);
    program_.Settings().pagingEnabled = pagingMenu_;
    program_.SetProfileChanged(true);
    SyncSwitches();
}

void MainCycle::SyncSwitches() {
    const LiveSettings& s = program_.Settings();
    SetScheduleCheckBox(s.scheduleEnabled);
    setScheduleMenu(s.scheduleEnabled);
    SetPagingCheckBox(s.pagingEnabled);
    setPagingMenu(s.pagingEnabled);
}

} // namespace tessaly
