#pragma once
// The terminal window's transcript: raw modem, socket and dial-up traffic.
// The text lives here; a window (when there is one) shows it.

#include <QString>
#include <functional>

namespace tessaly {

class TerminalView {
public:
    virtual ~TerminalView() = default;
    virtual void TerminalTextChanged(const QString& text) = 0;
};

class Terminal {
public:
    static constexpr int kLimit = 16384;
    static constexpr int kTrim = 4096;

    void Attach(TerminalView* view) { view_ = view; }
    // Also hands every piece of traffic, as appended, to `tap` (say, to
    // print it); none: nothing more.
    void SetTap(std::function<void(const QString&)> tap) { tap_ = std::move(tap); }
    // The traffic with its control characters named ("<ESC>", "<STX>",
    // "<0x07>") and CR, LF or CR LF as one line end, fit for a text console.
    static QString Printable(const QString& traffic);
    // Appends traffic: the oldest text goes past the limit, backspaces erase,
    // and line ends become CR LF (LFs dropped, one LF after every CR).
    void Append(const QString& text);
    QString Text() const { return text_; }
    void Clear();
    // True once anything was appended.
    bool HasText() const { return !text_.isEmpty(); }

private:
    QString text_;
    TerminalView* view_ = nullptr;
    std::function<void(const QString&)> tap_;
};

} // namespace tessaly
