#include "ui/main/frmintro.h"

#include "ui/platform/icons.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace tessaly {

FrmIntro::FrmIntro(const QString& versionText, QWidget* parent)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmIntro"));
    auto* layout = new QVBoxLayout(this);
    auto* picture = new QLabel(this);
    picture->setPixmap(windowIcon().pixmap(64, 64));
    picture->setAlignment(Qt::AlignCenter);
    auto* title = new QLabel(QStringLiteral("Tessaly"), this);
    QFont f = title->font();
    f.setPointSize(f.pointSize() * 2);
    f.setBold(true);
    title->setFont(f);
    title->setAlignment(Qt::AlignCenter);
    auto* subtitle = new QLabel(QStringLiteral("E-mail to pager gateway"), this);
    subtitle->setAlignment(Qt::AlignCenter);
    lblVersion_ = new QLabel(versionText, this);
    lblVersion_->setObjectName(QStringLiteral("lblVersion"));
    lblVersion_->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);
    layout->addWidget(title);
    layout->addWidget(subtitle);
    layout->addWidget(lblVersion_);
    setMinimumSize(320, 200);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect r = screen->geometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
}

} // namespace tessaly
