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
    QRect AvailableTwips() const override;
    QPoint PositionTwips() const override;
    // Puts the frame's top-left corner there, or as near as keeps the whole
    // frame inside the screen's available area.
    void MoveTwips(const QPoint& topLeft) override;
    void CloseWindow() override { close(); }

    // The frame around the window: the window manager's once it is known,
    // until then an estimate that is rather too large than too small.
    QMargins FrameMargins() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void placeFrame();
    void placeOnceFramed();

    StatusWindow& logic_;
    QPoint wanted_;             // where the frame's top-left corner was asked to go (pixels)
    bool atRight_ = false;      // placed against the right edge of the available area
    bool atBottom_ = false;     // placed against its bottom edge
    bool placePending_ = false; // placed with an estimated frame: placed again once framed
    QLabel* lblStatus_;
    QPushButton* cmdCancel_;
};

} // namespace tessaly
