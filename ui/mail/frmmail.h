#pragma once
// frmMail: the "Mail Viewer" window. It pages through the inbox one message
// at a time with its scroll bar, prints the shown message, and hands a
// reply to the quick note. Which message is shown and what that changes
// lives in MailViewer.

#include "features/mail/mailviewer.h"

#include <QWidget>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QScrollBar;

namespace tessaly {

class FrmMail : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidthTwips = 7200;
    static constexpr int kHeightTwips = 5400;

    // Asks for the printer; false when the user cancelled.
    using PrintDialog = std::function<bool(QPrinter& printer)>;
    // Opens the quick note filled with these fields.
    using ReplyHandler = std::function<void(const MailViewer::Reply& reply)>;

    explicit FrmMail(MailViewerContext ctx, QWidget* parent = nullptr);
    ~FrmMail() override;

    void SetReplyHandler(ReplyHandler handler) { reply_ = std::move(handler); }
    // The default shows the desktop's print dialog.
    void SetPrintDialog(PrintDialog dialog) { printDialog_ = std::move(dialog); }

    // Shows message `number`; outside the inbox nothing changes.
    void DisplayMessage(int number);
    MailViewer& Viewer() { return viewer_; }
    // Prints the shown message; returns the number of pages printed.
    int Print();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void place();

    MailViewerContext ctx_;
    MailViewer viewer_;
    ReplyHandler reply_;
    PrintDialog printDialog_;
    QLabel* lblFrom_ = nullptr;
    QLabel* lblDate_ = nullptr;
    QLabel* lblSubject_ = nullptr;
    QLabel* lblTo_ = nullptr;
    QLabel* lblMessage_ = nullptr;
    QPlainTextEdit* txtMail_ = nullptr;
    QScrollBar* hScroll_ = nullptr;
    QPushButton* cmdClient_ = nullptr;
    QPushButton* cmdReply_ = nullptr;
    QPushButton* cmdPrint_ = nullptr;
    QPushButton* cmdClose_ = nullptr;
    bool closed_ = false;
};

} // namespace tessaly
