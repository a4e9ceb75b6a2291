#include "ground/remotetext.h"

#include <QRegularExpression>

namespace tessaly {

namespace {
const QString kHidden = QStringLiteral("********");
} // namespace

QString HideRemotePassword(const QString& text, const QString& password) {
    static const QRegularExpression line(QStringLiteral("(^|[\\r\\n])([ \\t]*password[ \\t]*:)[^\\r\\n]*"),
                                         QRegularExpression::CaseInsensitiveOption);
    QString out = text;
    out.replace(line, QStringLiteral("\\1\\2") + kHidden);
    if (!password.isEmpty())
        out.replace(password, kHidden, Qt::CaseInsensitive);
    return out;
}

} // namespace tessaly
