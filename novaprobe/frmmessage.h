#pragma once
// frmMessage: "Messages from Valdrin", the message or bulletin text in a
// resizable window. A new one for every ShowMessages; it deletes itself
// when closed.

#include <QWidget>
#include <memory>

class QPlainTextEdit;

namespace tessaly {
class CResize;
class Prompter;
} // namespace tessaly

namespace novaprobe {

class FrmMessage : public QWidget {
    Q_OBJECT
public:
    FrmMessage(const QString& message, tessaly::Prompter& prompter);
    ~FrmMessage() override;
    QString Message() const;

signals:
    void Unloaded();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QPlainTextEdit* txtMessages_;
    std::unique_ptr<tessaly::CResize> resize_;
};

} // namespace novaprobe
