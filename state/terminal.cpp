#include "state/terminal.h"

#include "ground/traffictext.h"

namespace tessaly {

void Terminal::Append(const QString& text) {
    AppendTraffic(text_, text, kLimit, kTrim);
    if (view_)
        view_->TerminalTextChanged(text_);
}

void Terminal::Clear() {
    text_.clear();
    if (view_)
        view_->TerminalTextChanged(text_);
}

} // namespace tessaly
