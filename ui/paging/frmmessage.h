#pragma once
// frmMessage: "Send Immediate Message", a typed text sent to pager 1
// through the page queue. Enter does not start a new line: it beeps and
// types a space.

#include "features/paging/manualpage.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tessaly {

class FrmMessage : public QWidget {
    Q_OBJECT
public:
    explicit FrmMessage(ManualPageContext ctx, QWidget* parent = nullptr);

    QPlainTextEdit* txtMessage() const { return txtMessage_; }
    QLabel* lblChar() const { return lblChar_; }
    QPushButton* cmdSendNow() const { return cmdSendNow_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Escape closes the window, as Cancel does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void textChanged();
    void sendClicked();

    ManualPageContext ctx_;
    QLabel* lblUser_ = nullptr;
    QPlainTextEdit* txtMessage_ = nullptr;
    QLabel* lblChar_ = nullptr;
    QPushButton* cmdSendNow_ = nullptr;
    bool sending_ = false;
};

} // namespace tessaly
