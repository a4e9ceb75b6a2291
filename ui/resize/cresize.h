#pragma once
// CResize keeps one widget of a resizable window anchored to the window's
// right and bottom edges, and holds the window at a minimum size. Lengths are
// in twips (1/1440 inch).

#include <QRect>
#include <QString>

class QWidget;

namespace tessaly {

class Prompter;

class CResize {
public:
    // `prompter` shows the error message of a failed resize (none: not shown).
    explicit CResize(Prompter* prompter = nullptr) : prompter_(prompter) {}

    bool FixedWidth() const { return fixedWidth_; }
    void SetFixedWidth(bool v) { fixedWidth_ = v; }
    bool FixedHeight() const { return fixedHeight_; }
    void SetFixedHeight(bool v) { fixedHeight_ = v; }
    // Kept for callers; resizing does not use it.
    bool FixedToRight() const { return fixedToRight_; }
    void SetFixedToRight(bool v) { fixedToRight_ = v; }
    bool FixedToBottom() const { return fixedToBottom_; }
    void SetFixedToBottom(bool v) { fixedToBottom_ = v; }
    int MinFrmHeight() const { return minHeight_; }
    void SetMinFrmHeight(int v) { minHeight_ = v; }
    int MinFrmWidth() const { return minWidth_; }
    void SetMinFrmWidth(int v) { minWidth_ = v; }

    // A window's client size and one widget's rectangle, in twips.
    struct Geometry {
        int windowWidth = 0;
        int windowHeight = 0;
        QRect widget;
        bool operator==(const Geometry&) const = default;
    };

    // Records the widget's distances to the window's right and bottom edges.
    void GetPositions(const Geometry& g);
    void GetPositions(const QWidget* window, const QWidget* widget);
    // The window at least its minimum size, the widget stretched to keep its margins.
    Geometry Resized(Geometry g) const;
    void ResizeCtrl(QWidget* window, QWidget* widget);

private:
    Prompter* prompter_;
    bool fixedWidth_ = false;
    bool fixedHeight_ = false;
    bool fixedToRight_ = false;
    bool fixedToBottom_ = false;
    int minHeight_ = 0;
    int minWidth_ = 0;
    int rightMargin_ = 0;
    int bottomMargin_ = 0;
};

} // namespace tessaly
