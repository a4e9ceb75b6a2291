#include "ui/options/inmailpage.h"

#include "platform/prompter.h"
#include "platform/tlschoice.h"
#include "state/mailsecurity.h"
#include "state/livesettings.h"
#include "ui/mail/frmpop3.h"
#include "ui/mail/frmsignin.h"
#include "ui/mail/oauthbox.h"

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
            accountOAuth_ = f.accountOAuth;
            accountClientSecret_ = f.accountClientSecret;
        },
        [this](OptionsFields& f) {
            f.popSecurity = popSecurity_;
            f.accountSource = accountSource_;
            f.accountOAuth = accountOAuth_;
            f.accountClientSecret = accountClientSecret_;
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
    setUpSignIn(w, QString());
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
    setUpSignIn(w, a.Name());
    w.exec();
    if (w.Cancelled())
        return;
    popSecurity_.remove(a.Name());
    accountSource_.remove(a.Name());
    accountOAuth_.remove(a.Name());
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
    accountOAuth_.insert(name, w.oauth()->Settings());
    if (const std::optional<QString> secret = w.oauth()->NewClientSecret())
        accountClientSecret_.insert(name, *secret);
}

void InMailPage::setUpSignIn(FrmPOP3& w, const QString& account) {
    const bool kept =
        !account.isEmpty() && (accountClientSecret_.contains(account) ? !accountClientSecret_.value(account).isEmpty()
                               : ctx_.hasClientSecret                 ? ctx_.hasClientSecret(SignInTarget{account})
                                                                      : false);
    w.oauth()->SetSettings(accountOAuth_.value(account), kept);
    w.oauth()->cmdSignIn()->setVisible(static_cast<bool>(ctx_.signIn));
    connect(w.oauth(), &OAuthBox::signInClicked, &w, [this, &w] {
        if (!ctx_.signIn)
            return;
        if (const QString problem = w.oauth()->Problem(); !problem.isEmpty()) {
            ctx_.prompter.messageBox(problem, MsgButtons::OK);
            return;
        }
        const QString name = w.txtAccount()->text().trimmed();
        if (name.isEmpty()) {
            ctx_.prompter.messageBox(QStringLiteral("Name the account first."), MsgButtons::OK);
            return;
        }
        const TokenSource::Unsaved unsaved{w.oauth()->Settings(), w.oauth()->NewClientSecret()};
        const bool imap = w.cmbProtocol()->currentIndex() == 1;
        const QString user = w.txtPOPUserName()->text().trimmed();
        const QString why = FrmSignIn::RunSignIn(
            &w,
            [&](const TokenSource::Prompts& prompts, const bool* cancel) {
                return ctx_.signIn(SignInTarget{name}, imap, user, unsaved, prompts, cancel);
            },
            ctx_.openUrl);
        ctx_.prompter.messageBox(why.isEmpty() ? QStringLiteral("Signed in.") : QStringLiteral("Not signed in: ") + why,
                                 MsgButtons::OK);
    });
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
