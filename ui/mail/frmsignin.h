#pragma once
// The window shown while an OAuth 2.0 sign-in waits for the user: the code
// to enter and where, or that the browser was opened; Cancel ends the wait.

#include "features/signin/tokensource.h"

#include <QDialog>
#include <functional>

class QLabel;

namespace tessaly {

class FrmSignIn : public QDialog {
    Q_OBJECT
public:
    explicit FrmSignIn(QWidget* parent = nullptr);
    const bool* CancelFlag() const { return &cancel_; }
    void SetText(const QString& text);
    QLabel* lblText() const { return lblText_; }

    // Runs `signIn` with this window showing what the user must do (and the
    // browser opened by `openUrl` where the flow needs one); the reason when
    // it failed, empty when signed in.
    using Run = std::function<OAuthResult(const TokenSource::Prompts&, const bool* cancel)>;
    static QString RunSignIn(QWidget* parent, const Run& signIn, const std::function<void(const QString&)>& openUrl);

private:
    QLabel* lblText_ = nullptr;
    bool cancel_ = false;
};

} // namespace tessaly
