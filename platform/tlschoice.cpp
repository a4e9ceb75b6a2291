#include "platform/tlschoice.h"

namespace tessaly {

QStringList SecurityTexts() {
    return {QStringLiteral("automatic"), QStringLiteral("TLS"), QStringLiteral("STARTTLS required"),
            QStringLiteral("none")};
}

QString SecurityText(Security s) { return SecurityTexts().value(static_cast<int>(s)); }

namespace {
// Lower case without the separators a hand-written value may carry.
QString bareChoice(const QString& text) {
    QString out;
    for (const QChar c : text)
        if (c != QLatin1Char('-') && c != QLatin1Char('_') && !c.isSpace())
            out += c.toLower();
    return out;
}
} // namespace

std::optional<Security> ParseSecurity(const QString& text) {
    const QString bare = bareChoice(text);
    if (bare.isEmpty())
        return Security::Automatic;
    if (bare == QLatin1String("starttls"))
        return Security::StartTls;
    const QStringList texts = SecurityTexts();
    for (int i = 0; i < texts.size(); ++i)
        if (bareChoice(texts[i]) == bare)
            return static_cast<Security>(i);
    return std::nullopt;
}

Security SecurityFromText(const QString& text) { return ParseSecurity(text).value_or(Security::Automatic); }

bool ImplicitTls(Security s, int port, int tlsPort) {
    return s == Security::Tls || (s == Security::Automatic && port == tlsPort);
}

QString ExplainTlsFailure(const QString& reason) {
    if (!reason.contains(QLatin1String("wrong version number"), Qt::CaseInsensitive))
        return reason;
    return reason + QStringLiteral(" (the server answered in clear text: on this port it most likely expects "
                                   "STARTTLS; choose the security \"STARTTLS required\" or \"automatic\")");
}

QString SilentGreetingHint(const QString& host, int port) {
    return QStringLiteral("no greeting from %1:%2; if the server speaks TLS from the first byte on this port, "
                          "choose the security \"TLS\"")
        .arg(host)
        .arg(port);
}

bool AsksCapabilities(Security s) { return s == Security::Automatic || s == Security::StartTls; }

Upgrade UpgradeFor(Security s, bool offered) {
    switch (s) {
    case Security::None: return Upgrade::Clear;
    case Security::Tls: // already encrypted; never asked
        return Upgrade::Clear;
    case Security::StartTls: return offered ? Upgrade::StartTls : Upgrade::Refuse;
    case Security::Automatic: break;
    }
    return offered ? Upgrade::StartTls : Upgrade::ClearNotice;
}

namespace {

// The capability lines of a reply without status line and SMTP reply codes.
QList<QByteArray> capabilityLines(const QByteArray& reply) {
    QList<QByteArray> out;
    for (QByteArray line : reply.split('\n')) {
        line = line.trimmed();
        if (line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) && (line[3] == '-' || line[3] == ' '))
            line = line.mid(4);
        else if (line.startsWith("+OK") || line == ".")
            continue;
        out << line.simplified();
    }
    return out;
}

} // namespace

QList<QByteArray> OfferedWords(const QByteArray& reply, const QByteArray& keyword) {
    for (const QByteArray& line : capabilityLines(reply)) {
        QList<QByteArray> words = line.toUpper().split(' ');
        if (words.value(0) == keyword.toUpper()) {
            words.removeFirst();
            return words;
        }
    }
    return {};
}

bool Offers(const QByteArray& reply, const QByteArray& keyword) {
    for (const QByteArray& line : capabilityLines(reply))
        if (line.toUpper().split(' ').value(0) == keyword.toUpper())
            return true;
    return false;
}

} // namespace tessaly
