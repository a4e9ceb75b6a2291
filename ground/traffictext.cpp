#include "ground/traffictext.h"

namespace tessaly {

void AppendTraffic(QString& box, const QString& text, qsizetype limit, qsizetype trim) {
    while (box.size() >= limit && trim > 0)
        box.remove(0, trim);

    // Backspaces first: each erases the character before it, or the last
    // one already in the box when the text starts with it.
    QString erased;
    QStringView add = text;
    bool replaceLast = false;
    if (text.contains(QChar(8))) {
        erased.reserve(text.size());
        for (const QChar c : text) {
            if (c != QChar(8))
                erased.append(c);
            else if (!erased.isEmpty())
                erased.chop(1);
            else
                replaceLast = true;
        }
        add = erased;
    }
    if (replaceLast && !box.isEmpty())
        box.chop(1);
    // Then LFs go and every CR becomes CR LF.
    qsizetype plain = 0;
    for (qsizetype i = 0; i < add.size(); ++i) {
        const char16_t c = add[i].unicode();
        if (c != 10 && c != 13)
            continue;
        box.append(add.mid(plain, i - plain));
        if (c == 13)
            box.append(QStringLiteral("\r\n"));
        plain = i + 1;
    }
    box.append(add.mid(plain));
}

} // namespace tessaly
