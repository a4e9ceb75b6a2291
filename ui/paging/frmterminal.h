#pragma once
// frmTerminal: the "Terminal Data" window showing the traffic transcript.

#include "state/terminal.h"

#include <QWidget>

class QPlainTextEdit;
class QTimer;

namespace tessaly {

class FrmTerminal : public QWidget, public TerminalView {
    Q_OBJECT
public:
    explicit FrmTerminal(QWidget* parent = nullptr);
    void TerminalTextChanged(const QString& text) override;

signals:
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    QPlainTextEdit* term_;
    QTimer* refreshTimer_;
    QString text_;
    bool dirty_ = false;
};

} // namespace tessaly
