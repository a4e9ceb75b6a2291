#include "ui/main/frmstatus.h"

#include "ui/platform/icons.h"
#include "ui/resize/twips.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

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
}

void FrmStatus::SetStatusText(const QString& text) {
    lblStatus_->setText(text);
    lblStatus_->repaint();
}

QSize FrmStatus::SizeTwips() const {
    const QSize s = frameGeometry().size();
    return {pixelsToTwipsX(s.width()), pixelsToTwipsY(s.height())};
}

QPoint FrmStatus::PositionTwips() const { return {pixelsToTwipsX(x()), pixelsToTwipsY(y())}; }

void FrmStatus::MoveTwips(const QPoint& p) { move(twipsToPixelsX(p.x()), twipsToPixelsY(p.y())); }

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
