#pragma once
// frmPOP3: the modal window in which one POP3 account is entered or edited.
// The caller sets the title and, when editing, the fields; after the window
// is hidden it reads them back unless Cancelled() is true.

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace tessaly {

class Prompter;

class FrmPOP3 : public QDialog {
    Q_OBJECT
public:
    explicit FrmPOP3(Prompter& prompter, QWidget* parent = nullptr);

    QLineEdit* txtAccount() const { return txtAccount_; }
    QLineEdit* txtPOPServer() const { return txtPOPServer_; }
    QLineEdit* txtPOPUserName() const { return txtPOPUserName_; }
    QLineEdit* txtPOPPassword() const { return txtPOPPassword_; }
    QLineEdit* txtPOPPort() const { return txtPOPPort_; }
    QPushButton* cmdOK() const { return cmdOK_; }
    QPushButton* cmdCancel() const { return cmdCancel_; }

    bool Cancelled() const { return cancelled_; }

public slots:
    // Escape acts as the Cancel button.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    // The title-bar close box does not close the window.
    void closeEvent(QCloseEvent* event) override;

private:
    void okClicked();
    void cancelClicked();

    Prompter& prompter_;
    QLineEdit* txtAccount_ = nullptr;
    QLineEdit* txtPOPServer_ = nullptr;
    QLineEdit* txtPOPUserName_ = nullptr;
    QLineEdit* txtPOPPassword_ = nullptr;
    QLineEdit* txtPOPPort_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    bool cancelled_ = false;
};

} // namespace tessaly
