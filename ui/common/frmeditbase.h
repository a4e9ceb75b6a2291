#pragma once
// The common behaviour of the small modal edit windows (account, filter
// rule): OK checks the fields and shows the first problem, leaving the window
// open; Cancel and Escape set the cancelled flag; opening clears it; the
// title-bar close box is refused. The caller reads the fields back after the
// window is hidden unless Cancelled() is true.

#include <QDialog>

class QHBoxLayout;
class QPushButton;

namespace tessaly {

class Prompter;

class FrmEditBase : public QDialog {
    Q_OBJECT
public:
    FrmEditBase(Prompter& prompter, QWidget* parent);

    QPushButton* cmdOK() const { return cmdOK_; }
    QPushButton* cmdCancel() const { return cmdCancel_; }
    bool Cancelled() const { return cancelled_; }

public slots:
    // Escape acts as the Cancel button.
    void reject() override;

protected:
    // The first message that keeps the window open, or empty when the fields are fine.
    virtual QString Problem() const = 0;
    // The OK and Cancel buttons, right-aligned, for the window's layout.
    QHBoxLayout* ButtonRow();

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void okClicked();
    void cancelClicked();

    Prompter& prompter_;
    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    bool cancelled_ = false;
};

} // namespace tessaly
