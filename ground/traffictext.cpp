#include "ground/traffictext.h"

namespace tessaly {

void AppendTraffic(QString& box, const QString& text, qsizetype limit, qsizetype trim) {
    while (box.size() >= limit && trim > 0)
        box.remove(0, trim);

    QString add = text;
    bool replaceLast = false;
    for (qsizetype i = add.indexOf(QChar(8)); i >= 0; i = add.indexOf(QChar(8))) {
        if (i == 0) {
            replaceLast = true;
            add.remove(0, 1);
        } else {
            add.remove(i - 1, 2);
        }
    }
    add.remove(QChar(10));
    add.replace(QChar(13), QStringLiteral("\r\n"));

    if (replaceLast && !box.isEmpty())
        box.chop(1);
    box += add;
}

} // namespace tessaly
