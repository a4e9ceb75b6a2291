#pragma once
// frmQuickNote: the "Quick Note" window. It holds the fields and its own
// mail-sending control; the checks and the sending live in QuickNote.

#include "features/paging/quicknote.h"
#include "ui/resize/cresize.h"

#include <QWidget>
#include <memory>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tessaly {

class SmtpControl;

class FrmQuickNote : public QWidget {
    Q_OBJECT
public:
    // Design size of the window, in twips.
    static constexpr int kWidthTwips = 6300;
    static constexpr int kHeightTwips = 4800;
    static constexpr int kMinHeightTwips = 2000;
    static constexpr int kMinWidthTwips = 1000;

    FrmQuickNote(QuickNoteContext ctx, std::unique_ptr<SmtpControl> smtp, QWidget* parent = nullptr);
    ~FrmQuickNote() override;

    QLineEdit* txtTo() const { return txtTo_; }
    QLineEdit* txtSubject() const { return txtSubject_; }
    QLineEdit* txtFrom() const { return txtFrom_; }
    QPlainTextEdit* txtBody() const { return txtBody_; }
    QPushButton* cmdSend() const { return cmdSend_; }
    SmtpControl& CISMTP1() { return *smtp_; }

    // The outcome of the last "Send"; none before the first.
    std::optional<QuickNote::Outcome> LastOutcome() const { return lastOutcome_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // The window cannot close while a note is going out.
    void closeEvent(QCloseEvent* event) override;

private:
    void sendClicked();

    ActivityLog& activity_;
    std::unique_ptr<SmtpControl> smtp_;
    QuickNote note_;
    std::unique_ptr<CResize> resize_;
    QLineEdit* txtTo_ = nullptr;
    QLineEdit* txtSubject_ = nullptr;
    QLineEdit* txtFrom_ = nullptr;
    QPlainTextEdit* txtBody_ = nullptr;
    QPushButton* cmdSend_ = nullptr;
    bool sending_ = false;
    std::optional<QuickNote::Outcome> lastOutcome_;
};

} // namespace tessaly
