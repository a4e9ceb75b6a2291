#include "ui/mail/frmsignin.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessaly {

FrmSignIn::FrmSignIn(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmSignIn"));
    setWindowTitle(QStringLiteral("Sign In"));
    lblText_ = new QLabel(QStringLiteral("Asking the provider..."), this);
    lblText_->setObjectName(QStringLiteral("lblText"));
    lblText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblText_->setWordWrap(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(cancel, &QPushButton::clicked, this, [this] { cancel_ = true; });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblText_);
    layout->addWidget(cancel, 0, Qt::AlignRight);
}

void FrmSignIn::SetText(const QString& text) { lblText_->setText(text); }

QString FrmSignIn::RunSignIn(QWidget* parent, const Run& signIn, const std::function<void(const QString&)>& openUrl) {
    FrmSignIn w(parent);
    w.setModal(true);
    w.show();
    TokenSource::Prompts prompts;
    prompts.code = [&w](const DeviceCodePrompt& p) {
        w.SetText(QStringLiteral("Open %1 on any device and enter the code\n\n%2\n\nwithin %3 minutes.")
                      .arg(p.verificationUri, p.userCode)
                      .arg((p.expiresIn + 59) / 60));
    };
    prompts.url = [&w, &openUrl](const QString& url) {
        w.SetText(QStringLiteral("Sign in on the page the browser shows. If no browser opened, open:\n\n%1").arg(url));
        if (openUrl)
            openUrl(url);
    };
    const OAuthResult r = signIn(prompts, w.CancelFlag());
    w.hide();
    if (r.ok())
        return {};
    return r.reason.isEmpty() ? QStringLiteral("the sign-in did not finish") : r.reason;
}

} // namespace tessaly
