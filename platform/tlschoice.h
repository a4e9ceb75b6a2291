#pragma once
// How a mail connection is secured: the user's choice per server, and what
// the client does with it once it knows the port and what the server offers.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace tessaly {

enum class Security {
    Automatic, // TLS on the protocol's TLS port; elsewhere upgrade when offered
    Tls,       // TLS from the first byte
    StartTls,  // plain connect, then the upgrade, or no connection at all
    None       // never TLS
};

// The texts the settings file and the options dialog use, in the order of
// the enum: "automatic", "TLS", "STARTTLS required", "none".
QStringList SecurityTexts();
QString SecurityText(Security s);
// The choice a text names. Letter case, "-", "_" and spaces do not matter
// ("STARTTLS required", "starttls-required"), and "STARTTLS" alone means
// "STARTTLS required". An empty text is Automatic; any other text names no
// choice.
std::optional<Security> ParseSecurity(const QString& text);
// As ParseSecurity, with a text that names no choice taken as Automatic
// (the options dialog's own texts).
Security SecurityFromText(const QString& text);

// POP3 on 995, SMTP on 465 and IMAP on 993 speak TLS from the first byte.
constexpr int kPop3TlsPort = 995;
constexpr int kSmtpTlsPort = 465;
constexpr int kImapTlsPort = 993;

// True when the handshake starts as soon as the connection is open.
bool ImplicitTls(Security s, int port, int tlsPort);
// `reason` (why a handshake failed) with the likely cause added where one
// is known: a server that answered the handshake in clear text expects
// STARTTLS on that port.
QString ExplainTlsFailure(const QString& reason);
// What to say when a plain connection got no greeting in time: on a port
// other than the protocol's TLS port a server that speaks TLS from the first
// byte waits in silence too.
QString SilentGreetingHint(const QString& host, int port);

// What to do after the capability answer on a plain connection.
enum class Upgrade {
    StartTls,    // ask for the upgrade
    Clear,       // go on in clear, as chosen
    ClearNotice, // go on in clear and tell the user once
    Refuse       // end the connection: the upgrade was required
};
Upgrade UpgradeFor(Security s, bool offered);
// True when the capability exchange is needed at all on a plain connection.
bool AsksCapabilities(Security s);

// True when a capability line of the reply (POP3 CAPA lines, or SMTP EHLO
// lines after their "250-"/"250 ") starts with `keyword` as a whole word.
bool Offers(const QByteArray& reply, const QByteArray& keyword);
// The words after `keyword` on its capability line ("AUTH PLAIN LOGIN"
// gives PLAIN and LOGIN), upper-cased.
QList<QByteArray> OfferedWords(const QByteArray& reply, const QByteArray& keyword);

} // namespace tessaly
