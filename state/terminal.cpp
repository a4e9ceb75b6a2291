#include "state/terminal.h"

namespace tessaly {

void Terminal::Append(const QString& text) {
    if (text_.size() >= kLimit)
        text_.remove(0, kTrim);

    QString add = text;
    bool replaceLast = false;
    for (qsizetype i = add.indexOf(QChar(8)); i >= 0; i = add.indexOf(QChar(8))) {
        if (i == 0) {
            // A leading backspace takes back the last character already shown.
            replaceLast = true;
            add.remove(0, 1);
        } else {
            add.remove(i - 1, 2);
        }
    }
    add.remove(QChar(10));
    add.replace(QChar(13), QStringLiteral("\r\n"));

    if (replaceLast && !text_.isEmpty())
        text_.chop(1);
    text_ += add;
    if (view_)
        view_->TerminalTextChanged(text_);
}

void Terminal::Clear() {
    text_.clear();
    if (view_)
        view_->TerminalTextChanged(text_);
}

} // namespace tessaly
