#pragma once
// frmShutdown: the modal countdown before a remote "shutdown" or "reboot"
// ends the computer's session. Cancel (or closing the window) stops it.

#include "features/remote/countdown.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace tessaly {

class FrmShutdown : public QDialog, public CountdownView {
    Q_OBJECT
public:
    explicit FrmShutdown(QWidget* parent = nullptr);

    void Open(bool restart, int seconds, std::function<void()> cancel) override;
    void ShowSeconds(int seconds) override;
    void Close() override;

    QLabel* lblSeconds() const { return lblSeconds_; }
    QPushButton* cmdCancel() const { return cmdCancel_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void cancel();

    QLabel* lblSeconds_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    std::function<void()> cancel_;
    bool closing_ = false;
};

} // namespace tessaly
