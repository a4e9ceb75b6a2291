#include "ui/main/frmabout.h"

#include "state/appinfo.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace tessaly {

FrmAbout::FrmAbout(const QString& webAddress, std::function<void(const QString&)> openUrl, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Tessaly"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);

    auto* name = new QLabel(kWindowCaption, this);
    name->setObjectName(QStringLiteral("lblTitle"));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    layout->addWidget(name);

    auto* version = new QLabel(QStringLiteral("Version ") + VersionString(), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    layout->addWidget(version);

    auto* description = new QLabel(QStringLiteral("E-mail to pager gateway"), this);
    layout->addWidget(description);

    auto* web = new QLabel(this);
    web->setObjectName(QStringLiteral("lblWeb"));
    web->setTextFormat(Qt::RichText);
    web->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(webAddress.toHtmlEscaped()));
    web->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(web, &QLabel::linkActivated, this, [openUrl](const QString& link) {
        if (openUrl)
            openUrl(link);
    });
    layout->addWidget(web);

    auto* licence = new QLabel(kLicenceText, this);
    licence->setObjectName(QStringLiteral("lblLicence"));
    licence->setWordWrap(true);
    layout->addWidget(licence);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setObjectName(QStringLiteral("cmdOK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace tessaly
