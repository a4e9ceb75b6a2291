#pragma once
// frmOptions: the options dialog, a tab strip of ten pages over one frame
// each. It shows the fields and forwards the buttons; loading, the checks
// and Save live in features/options. Accounts and filters are edited in
// working copies that only Save puts back. The one-minute timer is stopped
// while the dialog is open.

#include "features/options/modemsettings.h"
#include "features/options/options.h"
#include "features/paging/manualpage.h"

#include <QDialog>
#include <QHash>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QTabBar;

namespace tessaly {

class FrmOptions : public QDialog {
    Q_OBJECT
public:
    FrmOptions(OptionsContext ctx, ManualPageContext pages, ModemContext modem, QWidget* parent = nullptr);
    ~FrmOptions() override;

    QTabBar* tabOptions() const { return tabs_; }
    // The frame of the page with this tab key ("General", "Internet", ...).
    QWidget* Page(const QString& key) const { return pages_.value(key); }
    // The field values as the user left them.
    OptionsFields Fields() const;
    const POPAccountList& WorkingAccounts() const { return accounts_; }
    const Filters& WorkingFilters() const { return filters_; }

public slots:
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* addPage(const QString& caption, const QString& key, const QString& tip);
    void buildGeneral();
    void buildInternet();
    void buildModem();
    void buildService();
    void buildPager();
    void buildInMail();
    void buildOutMail();
    void buildSchedule();
    void buildRemote();
    void buildSpam();
    void showFields(const OptionsFields& f);
    void applyRules();
    void fillAccounts();
    void fillFilters();
    void showAccountSummary();
    void newAccount();
    void editAccount();
    void deleteAccount();
    void newFilter();
    void editFilter();
    void removeFilter();
    void browse(QLineEdit* field, const QString& title, const QString& filter);
    void dialUpEntryChosen();
    void testConnection();
    void testPage();
    void openModem();
    void saveClicked();

    OptionsContext ctx_;
    ManualPageContext pagesCtx_;
    ModemContext modemCtx_;
    POPAccountList accounts_;
    Filters filters_;
    bool timerStopped_ = false;

    QTabBar* tabs_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QHash<QString, QWidget*> pages_;

    // General
    QLineEdit* txtStartupFile_ = nullptr;
    QLineEdit* txtEmailClient_ = nullptr;
    QCheckBox* chkSound_ = nullptr;
    QLineEdit* txtSoundFile_ = nullptr;
    QPushButton* cmdBrowseSound_ = nullptr;
    QLabel* lblIgnore_ = nullptr;
    QLineEdit* txtMailSize_ = nullptr;
    QLabel* lblKBytes_ = nullptr;
    QCheckBox* chkDownload_ = nullptr;
    QCheckBox* chkPageHeaders_ = nullptr;
    QCheckBox* chkPageBody_ = nullptr;
    QCheckBox* chkPagePriority_ = nullptr;
    QLineEdit* txtMaxPages_ = nullptr;
    QCheckBox* chkShowStatus_ = nullptr;
    QCheckBox* chkTray_ = nullptr;
    QCheckBox* chkUpdates_ = nullptr;
    // Internet connection
    QButtonGroup* optConnection_ = nullptr;
    QWidget* fraDialUp_ = nullptr;
    QComboBox* cmbDialUp_ = nullptr;
    QLineEdit* txtUserID_ = nullptr;
    QLineEdit* txtDialPassword_ = nullptr;
    QLineEdit* txtTimeout_ = nullptr;
    QLineEdit* txtRetries_ = nullptr;
    QPushButton* cmdTestConnection_ = nullptr;
    QWidget* fraExternal_ = nullptr;
    QLineEdit* txtExternalDialer_ = nullptr;
    QCheckBox* chkProxy_ = nullptr;
    QWidget* fraProxy_ = nullptr;
    QLineEdit* txtProxyName_ = nullptr;
    QLineEdit* txtProxyAddress_ = nullptr;
    QLineEdit* txtProxyPort_ = nullptr;
    // Pager service
    QComboBox* cmbService_ = nullptr;
    QLineEdit* txtServicePhone_ = nullptr;
    QLineEdit* txtTerminalPassword_ = nullptr;
    QComboBox* cmbBaud_ = nullptr;
    QComboBox* cmbParity_ = nullptr;
    QComboBox* cmbDataBits_ = nullptr;
    QComboBox* cmbStopBits_ = nullptr;
    // Pager
    QLineEdit* txtUserName_ = nullptr;
    QLineEdit* txtMaxPageLength_ = nullptr;
    QButtonGroup* optPagerType_ = nullptr;
    QWidget* fraAlpha_ = nullptr;
    QLineEdit* txtPagerID_ = nullptr;
    QWidget* fraSMTP_ = nullptr;
    QLineEdit* txtPagerEmail_ = nullptr;
    QLineEdit* txtPagerFrom_ = nullptr;
    QWidget* fraNumeric_ = nullptr;
    QLineEdit* txtNumericPhone_ = nullptr;
    QLineEdit* txtPrefix_ = nullptr;
    QLineEdit* txtDelay_ = nullptr;
    // Incoming mail
    QListWidget* lstAccounts_ = nullptr;
    QLabel* lblServer_ = nullptr;
    QLabel* lblPort_ = nullptr;
    QLabel* lblUser_ = nullptr;
    QLabel* lblCheck_ = nullptr;
    // Outgoing mail
    QLineEdit* txtDomain_ = nullptr;
    QLineEdit* txtSMTPName_ = nullptr;
    QLineEdit* txtSMTPAddress_ = nullptr;
    QLineEdit* txtSMTPPort_ = nullptr;
    QComboBox* cmbSMTPSecurity_ = nullptr;
    QLineEdit* txtSMTPUser_ = nullptr;
    QLineEdit* txtSMTPPassword_ = nullptr;
    QLineEdit* txtSMTPPasswordCommand_ = nullptr;
    QLineEdit* txtCAFile_ = nullptr;
    // The security choice of each working account, by account name.
    QHash<QString, QString> popSecurity_;
    // Schedule; index 1 = Sunday .. 7 = Saturday
    QLineEdit* txtFrequency_ = nullptr;
    QLineEdit* txtStartTime_ = nullptr;
    QLineEdit* txtStopTime_ = nullptr;
    QCheckBox* chkDay_[8] = {};
    // Remote control
    QCheckBox* chkRemote_ = nullptr;
    QLineEdit* txtRemotePassword_ = nullptr;
    // Spam filter
    QListWidget* lstFilters_ = nullptr;
};

} // namespace tessaly
