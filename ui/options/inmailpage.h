#pragma once
// The "Incoming Mail" page: the POP3 accounts (the dialog's working copy),
// added, edited and deleted in the account window, ticked to be checked, and
// the details of the chosen one. The security choice of each account is a
// field of this page.

#include "ui/options/optionspage.h"

class QLabel;
class QListWidget;

namespace tessaly {

class FrmPOP3;

class InMailPage : public OptionsPage {
public:
    // `accounts` is the working copy that Save puts back; `ctx` gives the
    // prompter and the most accounts allowed.
    InMailPage(OptionsContext& ctx, POPAccountList& accounts);

private:
    void fillAccounts();
    void showAccountSummary();
    void newAccount();
    void editAccount();
    void deleteAccount();

    OptionsContext& ctx_;
    POPAccountList& accounts_;
    // The security choice of each working account, by account name.
    QHash<QString, QString> popSecurity_;
    // Its protocol and IMAP folder, by account name.
    QHash<QString, OptionsFields::AccountSource> accountSource_;
    // How it signs in, and client secrets typed here, by account name.
    QHash<QString, OAuthSettings> accountOAuth_;
    QHash<QString, QString> accountClientSecret_;
    // The window's sign-in values and its "Sign In..." for `account` (the
    // name it had when the window opened; empty for a new one).
    void setUpSignIn(FrmPOP3& w, const QString& account);
    // Takes the window's security, protocol and folder for the account it names.
    void takeAccountChoices(const FrmPOP3& w);
    QListWidget* lstAccounts_ = nullptr;
    QLabel* lblServer_ = nullptr;
    QLabel* lblPort_ = nullptr;
    QLabel* lblUser_ = nullptr;
    QLabel* lblCheck_ = nullptr;
};

} // namespace tessaly
