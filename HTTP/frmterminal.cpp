#include "frmterminal.h"

#include "ground/traffictext.h"
#include "platform/prompter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <exception>

namespace webwire {

namespace {

struct Holder {
    bool loaded = false;
    QString text;
    QPointer<FrmTerminal> window;
    tessaly::Prompter* prompter = nullptr;
};

Holder& holder() {
    static Holder h;
    return h;
}

bool widgetsAvailable() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

} // namespace

FrmTerminal::FrmTerminal(tessaly::Prompter* prompter) {
    setWindowTitle(QStringLiteral("HTTP Data"));
    setObjectName(QStringLiteral("frmTerminal"));
    resize(520, 360);
    Term = new QPlainTextEdit(this);
    Term->setObjectName(QStringLiteral("Term"));
    Term->setReadOnly(true);
    Term->setGeometry(0, 0, 520, 360);
    resize_ = std::make_unique<tessaly::CResize>(prompter);
    resize_->SetMinFrmHeight(2000);
    resize_->SetMinFrmWidth(1000);
    resize_->SetFixedHeight(false);
    resize_->SetFixedToBottom(false);
    resize_->GetPositions(this, Term);
}

FrmTerminal::~FrmTerminal() = default;

void FrmTerminal::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (resize_ && !isMinimized())
        resize_->ResizeCtrl(this, Term);
}

void FrmTerminal::closeEvent(QCloseEvent* event) {
    // Closing the window unloads it; the next traffic loads it again.
    event->accept();
    resize_.reset();
    TrafficWindow::Unload();
}

void TrafficWindow::Load(tessaly::Prompter* prompter) {
    Holder& h = holder();
    if (prompter)
        h.prompter = prompter;
    if (h.loaded)
        return;
    h.loaded = true;
    h.text.clear();
    if (!widgetsAvailable())
        return;
    try {
        h.window = new FrmTerminal(h.prompter);
    } catch (const std::exception& e) {
        if (h.prompter)
            h.prompter->messageBox(QStringLiteral("frmTerminal:Form_Load:") + QString::fromLocal8Bit(e.what()));
    }
}

bool TrafficWindow::IsLoaded() { return holder().loaded; }

void TrafficWindow::Show() {
    Load(nullptr);
    if (FrmTerminal* w = holder().window) {
        w->Term->setPlainText(holder().text);
        w->Term->moveCursor(QTextCursor::End);
        w->show();
        w->raise();
    }
}

void TrafficWindow::Unload() {
    Holder& h = holder();
    h.loaded = false;
    h.text.clear();
    h.prompter = nullptr;
    if (h.window) {
        FrmTerminal* w = h.window;
        h.window = nullptr;
        w->hide();
        w->deleteLater();
    }
}

void TrafficWindow::ShowData(const QString& text) {
    Load(nullptr);
    Holder& h = holder();
    tessaly::AppendTraffic(h.text, text);
    if (FrmTerminal* w = h.window) {
        if (w->isVisible()) {
            w->Term->setPlainText(h.text);
            w->Term->moveCursor(QTextCursor::End);
        }
    }
}

QString TrafficWindow::Text() { return holder().text; }

FrmTerminal* TrafficWindow::Window() { return holder().window; }

} // namespace webwire
