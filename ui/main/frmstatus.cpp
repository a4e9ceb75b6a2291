#include "ui/main/frmstatus.h"

#include "ui/platform/icons.h"
#include "ui/resize/twips.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace tessaly {

FrmStatus::FrmStatus(StatusWindow& logic, QWidget* parent) : QWidget(parent, Qt::Tool), logic_(logic) {
    setObjectName(QStringLiteral("frmStatus"));
    setWindowTitle(QStringLiteral("Tessaly Status"));
    setWindowIcon(windowIcon());
    auto* layout = new QVBoxLayout(this);
    lblStatus_ = new QLabel(this);
    lblStatus_->setObjectName(QStringLiteral("lblStatus"));
    lblStatus_->setWordWrap(true);
    cmdCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
    layout->addWidget(lblStatus_, 1);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cmdCancel_);
    layout->addLayout(row);
    resize(twipsToPixelsX(StatusWindow::kWidthTwips), twipsToPixelsY(StatusWindow::kHeightTwips));
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { logic_.CancelClicked(); });
}

void FrmStatus::ShowWindow() {
    show();
    raise();
    placeOnceFramed();
}

void FrmStatus::SetStatusText(const QString& text) {
    lblStatus_->setText(text);
    lblStatus_->repaint();
}

namespace {
QScreen* screenAt(const QPoint& p) {
    if (QScreen* s = QGuiApplication::screenAt(p))
        return s;
    return QGuiApplication::primaryScreen();
}

bool framedType(Qt::WindowType type) { return type == Qt::Window || type == Qt::Dialog || type == Qt::Tool; }
} // namespace

QMargins FrmStatus::FrameMargins() const {
    if (const QWindow* own = windowHandle()) {
        const QMargins m = own->frameMargins();
        if (!m.isNull())
            return m;
    }
    // Not framed yet: another framed window of this program shows what the
    // window manager adds.
    for (const QWindow* w : QGuiApplication::topLevelWindows()) {
        if (w == windowHandle() || !w->isVisible() || !framedType(w->type()))
            continue;
        const QMargins m = w->frameMargins();
        if (!m.isNull())
            return m;
    }
    // A title bar of two lines of text and thin borders.
    const int line = fontMetrics().height();
    return {line / 2, 2 * line, line / 2, line / 2};
}

QSize FrmStatus::SizeTwips() const {
    const QMargins m = FrameMargins();
    const QSize s = size().grownBy(m);
    return {pixelsToTwipsX(s.width()), pixelsToTwipsY(s.height())};
}

QRect FrmStatus::AvailableTwips() const {
    const QScreen* s = screen();
    if (!s)
        return {};
    const QRect a = s->availableGeometry();
    return {pixelsToTwipsX(a.x()), pixelsToTwipsY(a.y()), pixelsToTwipsX(a.width()), pixelsToTwipsY(a.height())};
}

QPoint FrmStatus::PositionTwips() const { return {pixelsToTwipsX(x()), pixelsToTwipsY(y())}; }

void FrmStatus::MoveTwips(const QPoint& p) {
    wanted_ = QPoint(twipsToPixelsX(p.x()), twipsToPixelsY(p.y()));
    placeFrame();
    const QWindow* own = windowHandle();
    placePending_ = !own || own->frameMargins().isNull();
}

// move() places a window's frame, not its inside, at the given point.
void FrmStatus::placeFrame() {
    const QScreen* s = screenAt(wanted_);
    if (!s) {
        move(wanted_);
        return;
    }
    const QRect available = s->availableGeometry();
    const QMargins frame = FrameMargins();
    const QPoint at = StatusWindow::FitFrame(available, frame, size(), wanted_);
    const QSize outer = size().grownBy(frame);
    // Twips round to whole pixels, so a pixel short of the edge is against it.
    atRight_ = at.x() + outer.width() >= available.x() + available.width() - 1;
    atBottom_ = at.y() + outer.height() >= available.y() + available.height() - 1;
    move(at);
}

// The window manager frames a window after it is shown; the frame it gives
// may be larger than the estimate, so the window is placed once more when
// the frame is known. Later moves are the user's and stay as they are.
void FrmStatus::placeOnceFramed() {
    if (!placePending_ || !isVisible())
        return;
    const QWindow* own = windowHandle();
    if (!own || own->frameMargins().isNull())
        return;
    placePending_ = false;
    // A window put against an edge with the estimated frame stays against
    // it with the real one.
    if (const QScreen* s = screenAt(wanted_)) {
        const QRect available = s->availableGeometry();
        if (atRight_)
            wanted_.setX(available.x() + available.width());
        if (atBottom_)
            wanted_.setY(available.y() + available.height());
    }
    placeFrame();
}

bool FrmStatus::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show: placeOnceFramed(); break;
    default: break;
    }
    return handled;
}

void FrmStatus::closeEvent(QCloseEvent* event) {
    logic_.Closing();
    event->accept();
}

void FrmStatus::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        logic_.Activated();
    QWidget::changeEvent(event);
}

} // namespace tessaly
