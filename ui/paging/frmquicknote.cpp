#include "ui/paging/frmquicknote.h"

#include "state/appstate.h"
#include "platform/prompter.h"
#include "ui/resize/twips.h"
#include "ground/tessalyerror.h"
#include "platform/smtpcontrol.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>

namespace tessaly {

namespace {
// Places a child at a position and size given in twips.
void placeTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(twipsToPixelsX(left), twipsToPixelsY(top), twipsToPixelsX(width), twipsToPixelsY(height));
}
} // namespace

FrmQuickNote::FrmQuickNote(QuickNoteContext ctx, std::unique_ptr<SmtpControl> smtp, QWidget* parent)
    : QWidget(parent, Qt::Window), activity_(ctx.activity), smtp_(std::move(smtp)), note_(ctx, *smtp_) {
    setObjectName(QStringLiteral("frmQuickNote"));
    setWindowTitle(QStringLiteral("Quick Note"));
    setAttribute(Qt::WA_DeleteOnClose);

    // Fixed positions: the body field is sized by CResize, not by a layout.
    auto field = [&](const char* name, const char* label, int top) {
        auto* caption = new QLabel(QString::fromLatin1(label), this);
        placeTwips(caption, 120, top + 30, 1000, 285);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        placeTwips(edit, 1200, top, 3600, 330);
        return edit;
    };
    txtTo_ = field("txtTo", "To:", 120);
    txtSubject_ = field("txtSubject", "Subject:", 540);
    txtFrom_ = field("txtFrom", "Reply-To:", 960);
    cmdSend_ = new QPushButton(QStringLiteral("Send"), this);
    cmdSend_->setObjectName(QStringLiteral("cmdSend"));
    placeTwips(cmdSend_, 4980, 120, 1140, 375);
    txtBody_ = new QPlainTextEdit(this);
    txtBody_->setObjectName(QStringLiteral("txtBody"));
    placeTwips(txtBody_, 120, 1440, kWidthTwips - 240, kHeightTwips - 1440 - 120);
    setTabOrder(txtTo_, txtSubject_);
    setTabOrder(txtSubject_, txtFrom_);
    setTabOrder(txtFrom_, txtBody_);
    setTabOrder(txtBody_, cmdSend_);
    connect(cmdSend_, &QPushButton::clicked, this, &FrmQuickNote::sendClicked);

    resize(twipsToPixelsX(kWidthTwips), twipsToPixelsY(kHeightTwips));
    txtFrom_->setText(note_.Load());

    resize_ = std::make_unique<CResize>(&ctx.prompter);
    resize_->SetMinFrmHeight(kMinHeightTwips);
    resize_->SetMinFrmWidth(kMinWidthTwips);
    resize_->SetFixedHeight(false);
    resize_->SetFixedToBottom(false);
    resize_->GetPositions(this, txtBody_);
    setMinimumSize(twipsToPixelsX(kMinWidthTwips), twipsToPixelsY(kMinHeightTwips));
}

FrmQuickNote::~FrmQuickNote() = default;

void FrmQuickNote::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (resize_ && !isMinimized())
        resize_->ResizeCtrl(this, txtBody_);
}

void FrmQuickNote::closeEvent(QCloseEvent* event) {
    if (sending_) {
        event->ignore();
        return;
    }
    resize_.reset();
    QWidget::closeEvent(event);
}

void FrmQuickNote::sendClicked() {
    if (sending_)
        return;
    sending_ = true;
    cmdSend_->setEnabled(false);
    std::optional<QuickNote::Outcome> outcome;
    try {
        outcome = note_.Send({txtTo_->text(), txtSubject_->text(), txtFrom_->text(), txtBody_->toPlainText()});
    } catch (const TessalyError& e) {
        activity_.LogActivity(QStringLiteral("frmQuickNote:cmdSend: ") + e.description());
    }
    lastOutcome_ = outcome;
    sending_ = false;
    cmdSend_->setEnabled(true);
    if (outcome && QuickNote::ClosesWindow(*outcome))
        close();
}

} // namespace tessaly
