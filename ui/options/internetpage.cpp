#include "ui/options/internetpage.h"

#include "ground/tessalyerror.h"
#include "platform/dialupcontrol.h"
#include "state/livesettings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tessaly {

using namespace optionsui;

InternetPage::InternetPage(OptionsContext& ctx)
    : OptionsPage("Internet Connection", "Internet", "Internet Connection Properties"), ctx_(ctx) {
    auto* layout = new QVBoxLayout(this);
    optConnection_ = bindRadio(new QButtonGroup(this), &OptionsFields::connectionType);
    auto* choices = new QHBoxLayout;
    auto choice = [&](ConnectionType type, const char* name, const char* caption) {
        choices->addWidget(radioButton(this, optConnection_, type, QString::fromLatin1(name), caption));
    };
    choice(ConnDialUp, "optDialUp", "Use Dial-Up Networking");
    choice(ConnDirect, "optDirect", "Use Direct Connection");
    choice(ConnExternalDialer, "optExternal", "Run External Dialer");
    layout->addLayout(choices);
    buildDialUp(layout);

    auto* ext = frame(this, "fraExternal", "External Dialer");
    fraExternal_ = ext;
    auto* extForm = new QFormLayout(ext);
    extForm->addRow(QStringLiteral("External Dialer Path and Filename"),
                    bindText(lineEdit(ext, "txtExternalDialer"), &OptionsFields::externalDialer));
    layout->addWidget(ext);
    buildProxy(layout);
    layout->addStretch();

    rulesFollow(optConnection_);
    fixOnLeave(txtTimeout_, options::CheckTimeoutOnLeave);
    connect(cmbDialUp_, &QComboBox::activated, this, &InternetPage::dialUpEntryChosen);
    connect(cmdTestConnection_, &QPushButton::clicked, this, &InternetPage::testConnection);
}

void InternetPage::buildDialUp(QVBoxLayout* layout) {
    auto* dial = frame(this, "fraDialUp", "Dial-Up Networking");
    fraDialUp_ = dial;
    auto* grid = new QGridLayout(dial);
    cmbDialUp_ = bindChoice(comboBox(dial, "cmbDialUp"), &OptionsFields::dialEntry,
                            [this] { return options::DialUpEntries(ctx_.dialup); });
    grid->addWidget(new QLabel(QStringLiteral("Service Name:"), dial), 0, 0);
    grid->addWidget(cmbDialUp_, 0, 1, 1, 3);
    txtUserID_ = bindText(lineEdit(dial, "txtUserID"), &OptionsFields::dialUser);
    grid->addWidget(new QLabel(QStringLiteral("User ID:"), dial), 1, 0);
    grid->addWidget(txtUserID_, 1, 1);
    txtDialPassword_ = bindText(lineEdit(dial, "txtDialPassword"), &OptionsFields::dialPassword);
    txtDialPassword_->setEchoMode(QLineEdit::Password);
    grid->addWidget(new QLabel(QStringLiteral("Password:"), dial), 1, 2);
    grid->addWidget(txtDialPassword_, 1, 3);
    txtTimeout_ =
        bindText(lineEdit(dial, "txtTimeout", "number of seconds that an attempt to connect to ISP is retried"),
                 &OptionsFields::dialTimeout);
    grid->addWidget(new QLabel(QStringLiteral("Timeout:"), dial), 2, 0);
    grid->addWidget(txtTimeout_, 2, 1);
    auto* txtRetries =
        bindText(lineEdit(dial, "txtRetries", "number of attempts to retry a connection"), &OptionsFields::dialRetries);
    grid->addWidget(new QLabel(QStringLiteral("Retries:"), dial), 2, 2);
    grid->addWidget(txtRetries, 2, 3);
    cmdTestConnection_ = button(dial, "cmdTestConnection", "Test Connection");
    grid->addWidget(cmdTestConnection_, 3, 3);
    layout->addWidget(dial);
}

void InternetPage::buildProxy(QVBoxLayout* layout) {
    chkProxy_ = bindCheck(checkBox(this, "chkProxy", "Use Proxy Server"), &OptionsFields::useProxy);
    rulesFollow(chkProxy_);
    layout->addWidget(chkProxy_);
    auto* proxy = frame(this, "fraProxy", "Proxy Server");
    fraProxy_ = proxy;
    auto* proxyGrid = new QGridLayout(proxy);
    proxyGrid->addWidget(new QLabel(QStringLiteral("Host Name:"), proxy), 0, 0);
    proxyGrid->addWidget(bindText(lineEdit(proxy, "txtProxyName"), &OptionsFields::proxyName), 0, 1, 1, 3);
    proxyGrid->addWidget(new QLabel(QStringLiteral("Host Address:"), proxy), 1, 0);
    proxyGrid->addWidget(
        bindText(lineEdit(proxy, "txtProxyAddress", "IP address of proxy server"), &OptionsFields::proxyAddress), 1, 1);
    proxyGrid->addWidget(new QLabel(QStringLiteral("Port:"), proxy), 1, 2);
    proxyGrid->addWidget(
        bindText(lineEdit(proxy, "txtProxyPort", "Proxy Port (default 80)"), &OptionsFields::proxyPort), 1, 3);
    layout->addWidget(proxy);
}

void InternetPage::applyRules() {
    fraProxy_->setEnabled(chkProxy_->isChecked());
    const int conn = optConnection_->checkedId();
    fraDialUp_->setEnabled(conn == ConnDialUp);
    cmdTestConnection_->setEnabled(conn == ConnDialUp);
    fraExternal_->setEnabled(conn == ConnExternalDialer);
}

void InternetPage::dialUpEntryChosen() {
    if (optConnection_->checkedId() != ConnDialUp || !ctx_.dialup)
        return;
    try {
        const DialupControl::Credentials c = ctx_.dialup->EntryCredentials(cmbDialUp_->currentText());
        txtUserID_->setText(c.user);
        txtDialPassword_->setText(c.password);
    } catch (const TessalyError&) {
        // The entry's stored credentials cannot be read here: the fields stay.
    }
}

void InternetPage::testConnection() {
    options::TestConnection(ctx_, cmbDialUp_->currentText(), txtUserID_->text(), txtDialPassword_->text(),
                            txtTimeout_->text());
}

} // namespace tessaly
