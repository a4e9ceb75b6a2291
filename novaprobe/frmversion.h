#pragma once
// frmVersion: the notice of a newer version (version mode) or of a new
// bulletin (bulletin mode). CWebVersion fills the properties and shows it
// without blocking; Ignore stores the version the user does not want to hear
// of again, View Website opens the download address, and the message button
// asks CWebVersion to show its message.

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

namespace tessaly {
class Prompter;
class SettingsStore;
} // namespace tessaly

namespace novaprobe {

class FrmVersion : public QWidget {
    Q_OBJECT
public:
    FrmVersion(tessaly::SettingsStore& store, tessaly::Prompter& prompter, std::function<bool(const QString&)> openUrl);

    void SetBulletin(bool v) { bulletin_ = v; }
    QString AppName() const { return appName_; }
    void SetAppName(const QString& v) { appName_ = v; }
    QString MyVersion() const { return myVersion_; }
    void SetMyVersion(const QString& v) { myVersion_ = v; }
    QString WebVersion() const { return webVersion_; }
    void SetWebVersion(const QString& v) { webVersion_ = v; }
    QString DownloadURL() const { return downloadUrl_; }
    void SetDownloadURL(const QString& v) { downloadUrl_ = v; }
    void SetUrlOpener(std::function<bool(const QString&)> openUrl) { openUrl_ = std::move(openUrl); }

    // Fills the window for its mode and shows it without blocking.
    void Load();

signals:
    void ShowMessages();
    void Unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ignoreClicked();
    void viewWebClicked();

    tessaly::SettingsStore& store_;
    tessaly::Prompter& prompter_;
    std::function<bool(const QString&)> openUrl_;
    bool bulletin_ = false;
    QString appName_, myVersion_, webVersion_, downloadUrl_;
    QLabel* lblIntro_;
    QLabel* label1_;
    QLabel* Label2_;
    QLabel* lblYourVersion_;
    QLabel* lblNewVersion_;
    QPushButton* cmdIgnore_;
    QPushButton* cmdViewWeb_;
    QPushButton* cmdMessages_;
};

} // namespace novaprobe
