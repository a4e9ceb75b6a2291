#pragma once
// The terminal window's transcript: raw modem, socket and dial-up traffic.
// The text lives here; a window (when there is one) shows it.

#include <QString>

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
};

} // namespace tessaly
