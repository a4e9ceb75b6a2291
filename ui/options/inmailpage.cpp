#include "ui/options/inmailpage.h"

#include "platform/prompter.h"
#include "platform/tlschoice.h"
#include "state/mailsecurity.h"
#include "state/livesettings.h"
#include "ui/mail/frmpop3.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace tessaly {

using namespace optionsui;

InMailPage::InMailPage(OptionsContext& ctx, POPAccountList& accounts)
    : OptionsPage("Incoming Mail", "InMail", "Internet Incoming Mail Properties"), ctx_(ctx), accounts_(accounts) {
    auto* grid = new QGridLayout(this);
    lstAccounts_ = listWithButtons(
        this, grid, "lstAccounts", {"cmdNewAccount", "cmdEditAccount", "cmdDeleteAccount", "Delete"},
        [this] { newAccount(); }, [this] { editAccount(); }, [this] { deleteAccount(); });
    auto* summary = new QFormLayout;
    auto value = [&](const char* name, const char* caption) {
        QLabel* l = label(this, name);
        summary->addRow(QString::fromLatin1(caption), l);
        return l;
    };
    lblServer_ = value("lblServer", "POP3 Server:");
    lblPort_ = value("lblPort", "Mail Port:");
    lblUser_ = value("lblUser", "UserName:");
    lblCheck_ = value("lblCheck", "Check Mail?:");
    grid->addLayout(summary, 4, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Enter up to 3 POP3 accounts."), this), 5, 0, 1, 2);
    bind(
        [this](const OptionsFields& f) {
            popSecurity_ = f.popSecurity;
            accountSource_ = f.accountSource;
        },
        [this](OptionsFields& f) {
            f.popSecurity = popSecurity_;
            f.accountSource = accountSource_;
        });

    connect(lstAccounts_, &QListWidget::currentRowChanged, this, &InMailPage::showAccountSummary);
    connect(lstAccounts_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int row = lstAccounts_->row(item);
        if (row >= 0 && row < accounts_.Count())
            accounts_.Item(row + 1).SetCheckMail(item->checkState() == Qt::Checked);
        showAccountSummary();
    });
    fillAccounts();
}

void InMailPage::fillAccounts() {
    const QSignalBlocker block(lstAccounts_);
    lstAccounts_->clear();
    for (const CPOPAccount& a : accounts_) {
        auto* item = new QListWidgetItem(a.Name(), lstAccounts_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(a.CheckMail() ? Qt::Checked : Qt::Unchecked);
    }
    if (lstAccounts_->count() > 0)
        lstAccounts_->setCurrentRow(0);
    showAccountSummary();
}

void InMailPage::showAccountSummary() {
    const int row = lstAccounts_->currentRow();
    if (row < 0 || row >= accounts_.Count()) {
        for (QLabel* l : {lblServer_, lblPort_, lblUser_, lblCheck_})
            l->clear();
        return;
    }
    const CPOPAccount& a = accounts_.Item(row + 1);
    lblServer_->setText(a.Server());
    lblPort_->setText(QString::number(a.MailPort()));
    lblUser_->setText(a.Username());
    lblCheck_->setText(a.CheckMail() ? QStringLiteral("Yes") : QStringLiteral("No"));
}

void InMailPage::newAccount() {
    const int limit = ctx_.settings.maxPOPAccounts > 0 ? ctx_.settings.maxPOPAccounts : 3;
    if (accounts_.Count() >= limit) {
        ctx_.prompter.messageBox(options::kNoMoreAccounts, MsgButtons::OK);
        return;
    }
    FrmPOP3 w(ctx_.prompter, this);
    w.setWindowTitle(QStringLiteral("Add New POP3 Account"));
    w.txtPOPPort()->setText(QStringLiteral("110"));
    w.exec();
    if (w.Cancelled())
        return;
    accounts_.Add(w.txtAccount()->text(), w.txtPOPServer()->text(),
                  static_cast<std::int16_t>(w.txtPOPPort()->text().trimmed().toInt()), w.txtPOPUserName()->text(),
                  w.txtPOPPassword()->text(), true);
    takeAccountChoices(w);
    fillAccounts();
    lstAccounts_->setCurrentRow(accounts_.Count() - 1);
}

void InMailPage::editAccount() {
    const int row = lstAccounts_->currentRow();
    if (row < 0 || row >= accounts_.Count())
        return;
    CPOPAccount& a = accounts_.Item(row + 1);
    FrmPOP3 w(ctx_.prompter, this);
    w.setWindowTitle(QStringLiteral("Edit POP3 Account"));
    w.txtAccount()->setText(a.Name());
    w.txtPOPServer()->setText(a.Server());
    w.txtPOPUserName()->setText(a.Username());
    w.txtPOPPassword()->setText(a.Password());
    selectText(w.cmbSecurity(), popSecurity_.value(a.Name(), SecurityText(Security::Automatic)));
    const OptionsFields::AccountSource source = accountSource_.value(a.Name());
    // The port is set first: choosing IMAP must not move a port the user set.
    selectText(w.cmbProtocol(), source.protocol.isEmpty() ? MailProtocolText(MailProtocol::Pop3) : source.protocol);
    w.txtPOPPort()->setText(QString::number(a.MailPort()));
    w.txtFolder()->setText(source.folder);
    w.exec();
    if (w.Cancelled())
        return;
    popSecurity_.remove(a.Name());
    accountSource_.remove(a.Name());
    takeAccountChoices(w);
    a.SetName(w.txtAccount()->text());
    a.SetServer(w.txtPOPServer()->text());
    a.SetUsername(w.txtPOPUserName()->text());
    a.SetPassword(w.txtPOPPassword()->text());
    a.SetMailPort(static_cast<std::int16_t>(w.txtPOPPort()->text().trimmed().toInt()));
    fillAccounts();
    lstAccounts_->setCurrentRow(row);
}

void InMailPage::takeAccountChoices(const FrmPOP3& w) {
    const QString name = w.txtAccount()->text();
    popSecurity_.insert(name, w.cmbSecurity()->currentText());
    const bool imap = w.cmbProtocol()->currentIndex() == 1;
    accountSource_.insert(name, {w.cmbProtocol()->currentText(), imap ? w.txtFolder()->text().trimmed() : QString()});
}

void InMailPage::deleteAccount() {
    if (lstAccounts_->count() < 2) {
        ctx_.prompter.messageBox(options::kLastAccount, MsgButtons::OK);
        return;
    }
    const int row = lstAccounts_->currentRow();
    if (row < 0 || row >= accounts_.Count())
        return;
    accounts_.Remove(row + 1);
    fillAccounts();
}

} // namespace tessaly
