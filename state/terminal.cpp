#include "state/terminal.h"

#include "ground/traffictext.h"

namespace tessaly {

void Terminal::Append(const QString& text) {
    if (tap_)
        tap_(text);
    AppendTraffic(text_, text, kLimit, kTrim);
    if (view_)
        view_->TerminalTextChanged(text_);
}

void Terminal::Clear() {
    text_.clear();
    if (view_)
        view_->TerminalTextChanged(text_);
}

QString Terminal::Printable(const QString& traffic) {
    static const char* const names[0x20] = {"NUL", "SOH",   "STX",   "ETX", "EOT", "ENQ",   "ACK", "BEL",
                                            "BS",  nullptr, nullptr, "VT",  "FF",  nullptr, "SO",  "SI",
                                            "DLE", "DC1",   "DC2",   "DC3", "DC4", "NAK",   "SYN", "ETB",
                                            "CAN", "EM",    "SUB",   "ESC", "FS",  "GS",    "RS",  "US"};
    QString out;
    out.reserve(traffic.size());
    for (qsizetype i = 0; i < traffic.size(); ++i) {
        const char16_t c = traffic[i].unicode();
        if (c == u'\r') {
            out += QLatin1Char('\n');
            if (i + 1 < traffic.size() && traffic[i + 1] == QLatin1Char('\n'))
                ++i;
        } else if (c == u'\n' || c == u'\t') {
            out += QChar(c);
        } else if (c < 0x20) {
            out += QLatin1Char('<') + QLatin1String(names[c]) + QLatin1Char('>');
        } else if (c == 0x7f || (c >= 0x80 && c < 0xa0)) {
            out += QStringLiteral("<0x%1>").arg(int(c), 2, 16, QLatin1Char('0'));
        } else {
            out += QChar(c);
        }
    }
    return out;
}

} // namespace tessaly
