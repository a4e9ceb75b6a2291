#pragma once
// frmStatus: the small "Tessaly Status" window with the status line and Cancel.

#include "state/commstatus.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace tessaly {

class FrmStatus : public QWidget, public StatusView {
    Q_OBJECT
public:
    explicit FrmStatus(StatusWindow& logic, QWidget* parent = nullptr);

    void ShowWindow() override;
    void HideWindow() override { hide(); }
    bool IsShown() const override { return isVisible(); }
    bool IsMinimized() const override { return isMinimized(); }
    void SetStatusText(const QString& text) override;
    QSize SizeTwips() const override;
    QPoint PositionTwips() const override;
    void MoveTwips(const QPoint& topLeft) override;
    void CloseWindow() override { close(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    StatusWindow& logic_;
    QLabel* lblStatus_;
    QPushButton* cmdCancel_;
};

} // namespace tessaly
