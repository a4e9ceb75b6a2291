#include "ground/remotetext.h"

#include <QRegularExpression>

namespace tessaly {

namespace {
const QString kHidden = QStringLiteral("********");
} // namespace

QString HideRemotePassword(const QString& text, const QString& password) {
    static const QRegularExpression line(QStringLiteral("(^|[\\r\\n])([ \\t]*password[ \\t]*:)[^\\r\\n]*"),
                                         QRegularExpression::CaseInsensitiveOption);
    // Most text has neither; looking for the word is far cheaper than the expression.
    QString out = text;
    if (text.contains(QLatin1String("password"), Qt::CaseInsensitive))
        out.replace(line, QStringLiteral("\\1\\2") + kHidden);
    if (!password.isEmpty())
        out.replace(password, kHidden, Qt::CaseInsensitive);
    return out;
}

} // namespace tessaly
