#pragma once
// The traffic window "HTTP Data" (frmTerminal): one text box, Term, that
// shows the HTTP traffic as it happens. There is one per process, shared
// by every CHTTP object: loaded hidden when an object starts, shown by
// ShowTerminal, unloaded (its text gone) when an object ends. Without a
// widget application (a headless host) only the text is kept.

#include "ui/resize/cresize.h"

#include <QWidget>
#include <memory>

class QPlainTextEdit;

namespace tessaly {
class Prompter;
}

namespace webwire {

class FrmTerminal : public QWidget {
    Q_OBJECT
public:
    explicit FrmTerminal(tessaly::Prompter* prompter);
    ~FrmTerminal() override;
    QPlainTextEdit* Term = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<tessaly::CResize> resize_;
};

class TrafficWindow {
public:
    // Loads the window hidden (when widgets can be made); load errors are
    // shown through `prompter`.
    static void Load(tessaly::Prompter* prompter);
    static bool IsLoaded();
    static void Show();
    static void Unload();
    // Appends to Term: the oldest 4096 characters go once it holds 16384,
    // backspaces erase, line ends become CR LF. Loads the window if needed.
    static void ShowData(const QString& text);
    static QString Text();
    // The window, when one is loaded.
    static FrmTerminal* Window();
};

} // namespace webwire
