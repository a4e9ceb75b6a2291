#pragma once
// The main view of a run without windows: activity lines go to standard output.

#include "app/core/mainview.h"

#include <QHash>

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
    void SetSettingsLabels(const QString& connection, const QString& email,
                           const QString& paging) override {
        connection_ = connection;
        email_ = email;
        pagingLabel_ = paging;
    }
    void ShowSplash(const QString&) override {}
    void CloseSplash() override {}

    QString Caption() const { return caption_; }
    QString StatusPanel(const QString& key) const { return panels_.value(key); }
    bool ScheduleSwitch() const { return schedule_; }
    bool PagingSwitch() const { return paging_; }
    QString ConnectionLabel() const { return connection_; }
    QString EmailLabel() const { return email_; }
    QString PagingLabel() const { return pagingLabel_; }

private:
    bool echo_;
    QString caption_;
    QHash<QString, QString> panels_;
    bool menusEnabled_ = true;
    bool schedule_ = false;
    bool paging_ = false;
    QString connection_;
    QString email_;
    QString pagingLabel_;
};

} // namespace tessaly
