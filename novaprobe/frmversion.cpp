#include "frmversion.h"

#include "platform/prompter.h"
#include "platform/settingsstore.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace novaprobe {

FrmVersion::FrmVersion(tessaly::SettingsStore& store, tessaly::Prompter& prompter,
                       std::function<bool(const QString&)> openUrl)
    : QWidget(nullptr, Qt::Window), store_(store), prompter_(prompter), openUrl_(std::move(openUrl)) {
    setObjectName(QStringLiteral("frmVersion"));
    auto named = [this](auto* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    auto* picture = named(new QLabel(this), "picture");
    picture->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
    lblIntro_ = named(new QLabel(this), "lblIntro");
    lblIntro_->setWordWrap(true);
    label1_ = named(new QLabel(QStringLiteral("Your version:"), this), "label1");
    Label2_ = named(new QLabel(QStringLiteral("New version:"), this), "Label2");
    lblYourVersion_ = named(new QLabel(this), "lblYourVersion");
    lblNewVersion_ = named(new QLabel(this), "lblNewVersion");
    cmdIgnore_ = named(new QPushButton(QStringLiteral("Ignore"), this), "cmdIgnore");
    cmdIgnore_->setToolTip(QStringLiteral("Ignore this version"));
    cmdViewWeb_ = named(new QPushButton(QStringLiteral("View Website"), this), "cmdViewWeb");
    cmdMessages_ = named(new QPushButton(this), "cmdMessages");

    auto* top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addWidget(lblIntro_, 1);
    auto* versions = new QGridLayout;
    versions->addWidget(label1_, 0, 0);
    versions->addWidget(lblYourVersion_, 0, 1);
    versions->addWidget(Label2_, 1, 0);
    versions->addWidget(lblNewVersion_, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdIgnore_);
    buttons->addWidget(cmdViewWeb_);
    buttons->addWidget(cmdMessages_);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(versions);
    all->addLayout(buttons);
    resize(420, 180);

    connect(cmdIgnore_, &QPushButton::clicked, this, &FrmVersion::ignoreClicked);
    connect(cmdViewWeb_, &QPushButton::clicked, this, &FrmVersion::viewWebClicked);
    connect(cmdMessages_, &QPushButton::clicked, this, &FrmVersion::ShowMessages);
}

void FrmVersion::Load() {
    for (QWidget* w : {static_cast<QWidget*>(label1_), static_cast<QWidget*>(Label2_),
                       static_cast<QWidget*>(lblYourVersion_), static_cast<QWidget*>(lblNewVersion_),
                       static_cast<QWidget*>(cmdIgnore_), static_cast<QWidget*>(cmdViewWeb_)}) {
        w->setVisible(!bulletin_);
        w->setEnabled(!bulletin_);
    }
    if (bulletin_) {
        setWindowTitle(appName_ + QStringLiteral(" Bulletin"));
        lblIntro_->setText(QStringLiteral("Their is a new bulletin for ") + appName_);
        cmdMessages_->setText(QStringLiteral("View Bulletin"));
    } else {
        setWindowTitle(appName_ + QStringLiteral(" Version Check"));
        lblIntro_->setText(appName_ +
                           QStringLiteral(" has determined that a newer version is available for download."));
        lblYourVersion_->setText(myVersion_);
        lblNewVersion_->setText(webVersion_);
        cmdMessages_->setText(QStringLiteral("View Messages"));
    }
    show();
    raise();
    activateWindow();
}

void FrmVersion::ignoreClicked() {
    store_.write(appName_, QStringLiteral("Settings"), QStringLiteral("NovaprobeIgnore"), webVersion_);
    close();
}

void FrmVersion::viewWebClicked() {
    if (!openUrl_ || !openUrl_(downloadUrl_))
        prompter_.messageBox(QStringLiteral("Error opening URL ") + downloadUrl_ +
                             QStringLiteral(". Your browser may not be set up to automatically open."));
}

void FrmVersion::closeEvent(QCloseEvent* event) {
    event->accept();
    emit Unloaded();
}

} // namespace novaprobe
