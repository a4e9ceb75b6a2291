// What the mail clients do with the security choice, the port and the
// server's capability answer.

#include "platform/tlschoice.h"

#include <QTest>

using namespace tessaly;


class TestTlsChoice : public QObject {
    Q_OBJECT
private slots:
    void action_data();
    void action();
    void authWords();
    void texts();
    void handWrittenTexts();
};

void TestTlsChoice::action_data() {
    QTest::addColumn<QString>("choice");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("tlsPort");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("keyword");
    QTest::addColumn<QString>("expected");
    const QByteArray capaStls = "+OK\r\nTOP\r\nSTLS\r\nUIDL\r\n.\r\n";
    const QByteArray capaPlain = "+OK\r\nTOP\r\nUSER\r\nUIDL\r\n.\r\n";
    const QByteArray ehloTls = "250-mail.example.org\r\n250-PIPELINING\r\n250-STARTTLS\r\n250 8BITMIME\r\n";
    const QByteArray ehloPlain = "250-mail.example.org\r\n250-XSTARTTLSX\r\n250 AUTH PLAIN\r\n";
    // POP3
    QTest::newRow("pop automatic 995") << "automatic" << 995 << 995 << capaPlain << QByteArray("STLS") << "tls";
    QTest::newRow("pop automatic 110 offered") << "automatic" << 110 << 995 << capaStls << QByteArray("STLS") << "upgrade";
    QTest::newRow("pop automatic 110 not offered") << "automatic" << 110 << 995 << capaPlain << QByteArray("STLS") << "notice";
    QTest::newRow("pop automatic CAPA refused") << "Automatic" << 110 << 995 << QByteArray("-ERR unknown\r\n") << QByteArray("STLS") << "notice";
    QTest::newRow("pop TLS on 110") << "TLS" << 110 << 995 << capaStls << QByteArray("STLS") << "tls";
    QTest::newRow("pop required offered") << "STARTTLS required" << 995 << 995 << capaStls << QByteArray("STLS") << "upgrade";
    QTest::newRow("pop required not offered") << "starttls required" << 110 << 995 << capaPlain << QByteArray("STLS") << "refuse";
    QTest::newRow("pop none on 995") << "none" << 995 << 995 << capaStls << QByteArray("STLS") << "clear";
    QTest::newRow("pop unknown text is automatic") << "bogus" << 110 << 995 << capaStls << QByteArray("STLS") << "upgrade";
    // SMTP
    QTest::newRow("smtp automatic 465") << "automatic" << 465 << 465 << ehloPlain << QByteArray("STARTTLS") << "tls";
    QTest::newRow("smtp automatic 587 offered") << "automatic" << 587 << 465 << ehloTls << QByteArray("STARTTLS") << "upgrade";
    QTest::newRow("smtp automatic 25 look-alike word") << "" << 25 << 465 << ehloPlain << QByteArray("STARTTLS") << "notice";
    QTest::newRow("smtp required not offered") << "STARTTLS required" << 25 << 465 << ehloPlain << QByteArray("STARTTLS") << "refuse";
    QTest::newRow("smtp none offered") << "none" << 25 << 465 << ehloTls << QByteArray("STARTTLS") << "clear";
}

void TestTlsChoice::action() {
    QFETCH(QString, choice);
    QFETCH(int, port);
    QFETCH(int, tlsPort);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, keyword);
    QFETCH(QString, expected);
    const Security s = SecurityFromText(choice);
    QString got;
    if (ImplicitTls(s, port, tlsPort)) {
        got = QStringLiteral("tls");
    } else if (!AsksCapabilities(s)) {
        got = QStringLiteral("clear");
    } else {
        const bool offered = answer.startsWith("+OK") || answer.startsWith("250") ? Offers(answer, keyword) : false;
        switch (UpgradeFor(s, offered)) {
        case Upgrade::StartTls: got = QStringLiteral("upgrade"); break;
        case Upgrade::Clear: got = QStringLiteral("clear"); break;
        case Upgrade::ClearNotice: got = QStringLiteral("notice"); break;
        case Upgrade::Refuse: got = QStringLiteral("refuse"); break;
        }
    }
    QCOMPARE(got, expected);
}

void TestTlsChoice::authWords() {
    const QByteArray ehlo = "250-mx.example.org Hello\r\n250-auth login Plain\r\n250 STARTTLS\r\n";
    QCOMPARE(OfferedWords(ehlo, "AUTH"), (QList<QByteArray>{"LOGIN", "PLAIN"}));
    QVERIFY(OfferedWords("250-mx\r\n250 SIZE 100\r\n", "AUTH").isEmpty());
}

void TestTlsChoice::texts() {
    // Every choice survives the settings file.
    for (const QString& text : SecurityTexts())
        QCOMPARE(SecurityText(SecurityFromText(text)), text);
}

void TestTlsChoice::handWrittenTexts() {
    const struct {
        const char* text;
        std::optional<Security> choice;
    } cases[] = {
        {"", Security::Automatic},          {"  ", Security::Automatic},          {"AUTOMATIC", Security::Automatic},
        {"tls", Security::Tls},             {" TLS ", Security::Tls},             {"starttls", Security::StartTls},
        {"STARTTLS", Security::StartTls},   {"starttls-required", Security::StartTls},
        {"StartTLS_Required", Security::StartTls},                                {"None", Security::None},
        {"bogus", std::nullopt},            {"ssl", std::nullopt},                {"tls1.2", std::nullopt},
        {"starttls optional", std::nullopt},
    };
    for (const auto& c : cases)
        QVERIFY2(ParseSecurity(QString::fromLatin1(c.text)) == c.choice, c.text);
}

QTEST_GUILESS_MAIN(TestTlsChoice)
#include "test_tlschoice.moc"
