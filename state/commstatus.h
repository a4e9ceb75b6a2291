#pragma once
// frmStatus's logic: the communication status window with its one status
// line and the Cancel button that sets the cancel flag.

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

namespace tessaly {

class SettingsStore;

// What the logic needs of the window (twips throughout).
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;
    virtual bool IsShown() const = 0;
    virtual bool IsMinimized() const = 0;
    virtual void SetStatusText(const QString& text) = 0;
    // The window's size with its frame.
    virtual QSize SizeTwips() const = 0;
    // The part of the screen that windows may cover (without the desktop's
    // panels); an empty rectangle when the view does not know it.
    virtual QRect AvailableTwips() const { return {}; }
    virtual QPoint PositionTwips() const = 0;
    virtual void MoveTwips(const QPoint& topLeft) = 0;
    // Closes the window; its closing handler runs as for the user's close.
    virtual void CloseWindow() = 0;
};

class StatusWindow {
public:
    // The window's design size.
    static constexpr int kWidthTwips = 3960;
    static constexpr int kHeightTwips = 1335;

    StatusWindow(SettingsStore& store, QSize screenTwips, bool& cancelFlag);
    // The window, or none for a run without windows.
    void Attach(StatusView* view) { view_ = view; }

    // Loads the window once: placement from the stored position, cancel flag cleared.
    void Load();
    bool IsLoaded() const { return loaded_; }
    // Loads when needed, then shows the window.
    void Show();
    void Hide();
    // Closes (unloads) the window; the next use loads it afresh.
    void Close();
    void Activated();
    void CancelClicked();
    // The window is closing: its position is kept unless it is minimised.
    void Closing();

    void SetStatusLine(const QString& text);
    QString StatusLine() const { return line_; }

    // Where the window goes: the stored position, or the bottom right corner
    // of the screen; a position past the right or bottom edge (or wholly off
    // the left or top) goes back to that edge.
    static QPoint Placement(const SettingsStore& store, QSize screenTwips, QSize windowTwips);

    // The top-left corner of a window's frame nearest to `wanted` at which
    // the whole frame (the window of size `window` plus `frame` around it)
    // lies inside `available`. A frame wider or taller than the area starts
    // at its left or top edge, so the title bar stays in reach. Any one unit
    // throughout.
    static QPoint FitFrame(const QRect& available, const QMargins& frame, const QSize& window, const QPoint& wanted);

private:
    SettingsStore& store_;
    QSize screen_;
    bool& cancel_;
    StatusView* view_ = nullptr;
    bool loaded_ = false;
    QString line_;
};

} // namespace tessaly
