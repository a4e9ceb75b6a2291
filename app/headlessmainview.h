#pragma once
// The main view of a run without windows: activity lines go to standard output.

#include "app/mainview.h"

#include <QHash>
#include <QStringList>

namespace tessaly {

class HeadlessMainView : public MainView {
public:
    explicit HeadlessMainView(bool echoActivity = true) : echo_(echoActivity) {}
    bool HasWindows() const override { return false; }
    void SetCaption(const QString& caption) override { caption_ = caption; }
    void ShowWindow() override {}
    void HideWindow() override {}
    bool IsMinimized() const override { return false; }
    void SetSizeTwips(int, int) override {}
    void MakeToolbarFlat() override {}
    void ActivityChanged(const QString& text, const QString& line) override;
    void SetStatusPanel(const QString& key, const QString& text) override { panels_[key] = text; }
    void SetProfileMenusEnabled(bool enabled) override { menusEnabled_ = enabled; }
    bool ProfileMenusEnabled() const override { return menusEnabled_; }
    void SetDiagnostics(bool) override {}
    void SetScheduleSwitch(bool checked) override { schedule_ = checked; }
    void SetPagingSwitch(bool checked) override { paging_ = checked; }
    void SetScheduleMenuCheck(bool checked) override { scheduleMenu_ = checked; }
    void SetPagingMenuCheck(bool checked) override { pagingMenu_ = checked; }
    void SetSettingsLabels(const QString& connection, const QString& email, const QString& paging) override {
        labels_ = {connection, email, paging};
    }
    void SetCheckCommandsEnabled(bool enabled) override { checkCommands_ = enabled; }
    bool IsWindowShown() const override { return false; }
    void RestoreWindow() override {}
    void SetToolbarVisible(bool) override {}
    void RepaintStatusBar() override {}
    void ShowSplash(const QString&) override {}
    void CloseSplash() override {}

    QString Caption() const { return caption_; }
    QString StatusPanel(const QString& key) const { return panels_.value(key); }
    bool ScheduleSwitch() const { return schedule_; }
    bool PagingSwitch() const { return paging_; }
    bool ScheduleMenuCheck() const { return scheduleMenu_; }
    bool PagingMenuCheck() const { return pagingMenu_; }
    // Connection, e-mail and paging label texts.
    QStringList SettingsLabels() const { return labels_; }
    bool CheckCommandsEnabled() const { return checkCommands_; }
    QString ConnectionLabel() const { return labels_.value(0); }
    QString EmailLabel() const { return labels_.value(1); }
    QString PagingLabel() const { return labels_.value(2); }

private:
    bool echo_;
    QString caption_;
    QHash<QString, QString> panels_;
    bool menusEnabled_ = true;
    bool schedule_ = false;
    bool paging_ = false;
    bool scheduleMenu_ = false;
    bool pagingMenu_ = false;
    QStringList labels_;
    bool checkCommands_ = false;
};

} // namespace tessaly
