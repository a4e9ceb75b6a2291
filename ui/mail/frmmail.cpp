#include "ui/mail/frmmail.h"

#include "features/mail/mailprint.h"
#include "platform/prompter.h"
#include "ui/resize/twips.h"

#include <QCloseEvent>
#include <QFontMetricsF>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tessaly {

namespace {
QLabel* valueLabel(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setTextFormat(Qt::PlainText);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}
} // namespace

FrmMail::FrmMail(MailViewerContext ctx, QWidget* parent)
    : QWidget(parent, Qt::Window), ctx_(ctx), viewer_(std::move(ctx)) {
    setObjectName(QStringLiteral("frmMail"));
    setWindowTitle(QStringLiteral("Mail Viewer"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    lblFrom_ = valueLabel(this, "lblFrom");
    lblDate_ = valueLabel(this, "lblDate");
    lblSubject_ = valueLabel(this, "lblSubject");
    lblTo_ = valueLabel(this, "lblTo");
    const std::pair<const char*, QLabel*> rows[] = {
        {"From:", lblFrom_}, {"Date Sent:", lblDate_}, {"Subject:", lblSubject_}, {"To:", lblTo_}};
    int row = 0;
    for (const auto& [caption, value] : rows) {
        grid->addWidget(new QLabel(QString::fromLatin1(caption), this), row, 0);
        grid->addWidget(value, row++, 1);
    }
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    txtMail_ = new QPlainTextEdit(this);
    txtMail_->setObjectName(QStringLiteral("txtMail"));
    txtMail_->setReadOnly(true);
    layout->addWidget(txtMail_, 1);

    auto* nav = new QHBoxLayout;
    lblMessage_ = valueLabel(this, "lblMessage");
    hScroll_ = new QScrollBar(Qt::Horizontal, this);
    hScroll_->setObjectName(QStringLiteral("HScroll"));
    nav->addWidget(lblMessage_);
    nav->addWidget(hScroll_, 1);
    layout->addLayout(nav);

    auto* buttons = new QHBoxLayout;
    cmdClient_ = button(this, "cmdClient", "Open Email Client");
    cmdReply_ = button(this, "cmdReply", "Reply");
    cmdPrint_ = button(this, "cmdPrint", "Print");
    cmdClose_ = button(this, "cmdClose", "Close");
    for (QPushButton* b : {cmdClient_, cmdReply_, cmdPrint_, cmdClose_})
        buttons->addWidget(b);
    layout->addLayout(buttons);

    printDialog_ = [this](QPrinter& printer) {
        QPrintDialog dialog(&printer, this);
        return dialog.exec() == QDialog::Accepted;
    };
    connect(cmdClient_, &QPushButton::clicked, this, [this] { viewer_.OpenEmailClient(); });
    connect(cmdReply_, &QPushButton::clicked, this, [this] {
        if (const auto reply = viewer_.ReplyFields(); reply && reply_)
            reply_(*reply);
    });
    connect(cmdPrint_, &QPushButton::clicked, this, [this] { Print(); });
    connect(cmdClose_, &QPushButton::clicked, this, &QWidget::close);

    resize(twipsToPixelsX(kWidthTwips), twipsToPixelsY(kHeightTwips));
    place();
    // The range is set once: a check while the window is open may change the
    // inbox, and positions it no longer holds show nothing.
    hScroll_->setRange(1, std::max(1, viewer_.Count()));
    hScroll_->setPageStep(3);
    hScroll_->setSingleStep(1);
    connect(hScroll_, &QScrollBar::valueChanged, this, &FrmMail::DisplayMessage);
    DisplayMessage(1);
}

FrmMail::~FrmMail() = default;

// Centred across the screen, its top at a third of the height left free.
void FrmMail::place() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 3);
}

void FrmMail::DisplayMessage(int number) {
    const auto shown = viewer_.DisplayMessage(number);
    if (!shown)
        return;
    lblMessage_->setText(shown->counter);
    lblDate_->setText(shown->date);
    lblFrom_->setText(shown->from);
    lblSubject_->setText(shown->subject);
    lblTo_->setText(shown->to);
    txtMail_->setPlainText(shown->body);
}

int FrmMail::Print() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setCopyCount(1);
    if (!printDialog_ || !printDialog_(printer)) {
        ctx_.prompter.messageBox(QStringLiteral("Cancel was selected."));
        return 0;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        ctx_.prompter.messageBox(QStringLiteral("The printer could not be started."));
        return 0;
    }
    QFont font(QStringLiteral("Courier"), 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    painter.setFont(font);
    const QFontMetricsF metrics(font, &printer);
    const double dpiY = printer.resolution();
    const double dpiX = printer.resolution();
    const QRectF area = printer.pageRect(QPrinter::DevicePixel);
    const double charWidth = metrics.horizontalAdvance(QLatin1Char('M'));

    const auto current = viewer_.Current();
    MailPrintPage page;
    page.printableHeight = area.height() / dpiY;
    page.lineHeight = metrics.lineSpacing() / dpiY;
    page.maxColumns = charWidth > 0 ? static_cast<int>((area.width() - kMailPrintLeftMargin * dpiX) / charWidth) : 0;
    // The text is the shown message's body, as txtMail holds it.
    const QStringList header =
        current ? MailPrintHeader(current->from, current->date, current->subject) : MailPrintHeader({}, {}, {});
    const auto lines = LayoutMailPrint(header, MailBodyLines(current ? current->body : QString()), page);

    // The painter's origin is the top left corner of the printable area.
    int pageNo = 1;
    for (const PrintedLine& line : lines) {
        while (pageNo < line.page) {
            printer.newPage();
            ++pageNo;
        }
        painter.drawText(QPointF(kMailPrintLeftMargin * dpiX, line.top * dpiY + metrics.ascent()), line.text);
    }
    painter.end();
    return pageNo;
}

void FrmMail::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && !closed_) {
        closed_ = true;
        viewer_.Closed();
    }
}

} // namespace tessaly
