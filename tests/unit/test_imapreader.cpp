// The IMAP reader and client against a scripted IMAP server in virtual time:
// what a mailbox read gives the mail check, logins and their refusals, the
// security choices, set fetches that break off, time-outs, and IDLE.

#include "features/mail/headerfields.h"
#include "features/mail/imapreader.h"
#include "ground/sockerr.h"
#include "platform/imapclient.h"
#include "state/mailsecurity.h"
#include "tests/fakes/imapscript.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/scriptednet.h"

#include <QtTest>

using namespace tessaly;
using Login = MailboxReader::Login;
using Status = MailboxReader::HeaderAnswer::Status;

Q_DECLARE_METATYPE(MailboxReader::Login)
Q_DECLARE_METATYPE(tessaly::Security)

namespace {

QByteArray mail(int n, const QByteArray& body = "Hello there.") {
    return "Message-ID: <m" + QByteArray::number(n) + "@example.org>\r\nFrom: Ann <ann@example.org>\r\n"
           "Subject: note " + QByteArray::number(n) + "\r\n\r\n" + body + "\r\n";
}

struct Rig : ProgramRig {
    ScriptedNet net{pump};
    std::shared_ptr<ImapServer> server = std::make_shared<ImapServer>();
    std::unique_ptr<MailContext> ctx;
    std::unique_ptr<ImapReader> reader;
    QString folder;
    QString traffic;
    QStringList clearText;

    Rig() {
        startWithoutProfile();
        for (const quint16 port : {quint16(143), quint16(993)})
            net.listen(QStringLiteral("imap.example.org"), port, [this] { return makeImapScript(server); });
        MainProgram& p = *program;
        ctx.reset(new MailContext{.pump = pump,
                                  .pop = nullptr,
                                  .tcp = nullptr,
                                  .state = p.State(),
                                  .status = p.Status(),
                                  .activity = p,
                                  .connection = p.GetConnection(),
                                  .inbox = p.GetInbox(),
                                  .filters = p.GetFilters(),
                                  .accounts = p.POPAccounts(),
                                  .pagers = p.Pagers(),
                                  .queue = p.Queue(),
                                  .minuteTimer = p.MinuteTimer(),
                                  .sendQueue = {},
                                  .updateSettings = {},
                                  .updateEmailDisplay = {},
                                  .store = &store,
                                  .links = &net});
        p.State().terminal.SetTap([this](const QString& t) { traffic += t; });
        reader = std::make_unique<ImapReader>(
            *ctx, net, [this](const CPOPAccount&) { return folder; },
            [this](const QString& account, const QString& host) { clearText << account + '@' + host; });
        p.POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("imap.example.org"), 143, QStringLiteral("user"),
                            QStringLiteral("secret"), true);
        for (int n = 1; n <= 3; ++n)
            server->deliver(mail(n));
    }
    CPOPAccount& account() { return program->POPAccounts().Item(1); }
    Login logIn() {
        reader->Prepare();
        return reader->LogIn(account(), 60);
    }
    int count(const char* verb) const { return static_cast<int>(server->verbs.count(verb)); }
    // True when a command line received ends with `text` (its tag aside).
    bool sent(const QByteArray& text) const {
        return std::any_of(server->commands.cbegin(), server->commands.cend(),
                           [&](const QByteArray& c) { return c.endsWith(' ' + text); });
    }
};

// A client logged in and examining INBOX on the rig's server.
struct ClientRig : Rig {
    ImapClient client{pump, net};
    ClientRig() {
        client.SetHost(QStringLiteral("imap.example.org"));
        client.SetSecurity(Security::None);
        client.SetTimeout(30);
    }
    int open() {
        int r = client.Connect();
        if (r == 0)
            r = client.Login(QStringLiteral("user"), QStringLiteral("secret"));
        return r == 0 ? client.Examine(QString()) : r;
    }
};

} // namespace

class TestImapReader : public QObject {
    Q_OBJECT
private slots:
    // A whole read: count, sizes, unique IDs, a header batch as the check
    // reads it, the messages; nothing marked seen, the password never shown.
    void readsMailbox() {
        Rig r;
        QCOMPARE(r.logIn(), Login::Done);
        QCOMPARE(r.reader->MessageCount(), 3);
        const QHash<int, std::int32_t> sizes = r.reader->Sizes();
        QCOMPARE(sizes.size(), 3);
        QCOMPARE(sizes.value(2), static_cast<std::int32_t>(mail(2).size()));
        const QHash<int, QString> ids = r.reader->UniqueIds(3);
        QCOMPARE(ids.value(1), QStringLiteral("INBOX;UIDVALIDITY=7;UID=1"));
        QCOMPARE(ids.value(3), QStringLiteral("INBOX;UIDVALIDITY=7;UID=3"));
        QVERIFY(r.reader->OffersBatches());

        QHash<int, MailboxReader::HeaderAnswer> answers;
        r.reader->RequestHeaders({1, 3}, answers);
        QCOMPARE(answers.size(), 2);
        QCOMPARE(answers.value(3).status, Status::Answered);
        const headers::Fields f = headers::All(answers.value(3).header);
        QCOMPARE(f.messageId, QStringLiteral("<m3@example.org>"));
        QCOMPARE(f.subject, QStringLiteral("note 3"));
        QCOMPARE(f.size, static_cast<std::int32_t>(mail(3).size()));
        QVERIFY(!answers.value(3).header.contains(QLatin1String("Hello there.")));
        QCOMPARE(r.reader->Header(2).status, Status::Answered);

        QHash<int, QString> texts;
        r.reader->RequestMessages({1, 2, 3}, texts);
        QCOMPARE(texts.size(), 3);
        QCOMPARE(texts.value(2), QString::fromLatin1(mail(2)));
        QCOMPARE(r.reader->Message(1), std::optional<QString>(QString::fromLatin1(mail(1))));
        r.reader->Close();

        QVERIFY(r.sent("UID FETCH 1,3 (UID BODY.PEEK[HEADER])"));
        QVERIFY(r.sent("UID FETCH 1:3 (UID BODY.PEEK[])"));
        QVERIFY(r.sent("FETCH 1:* (UID RFC822.SIZE)"));
        QCOMPARE(r.count("EXAMINE"), 1);
        QCOMPARE(r.count("SELECT"), 0);
        QCOMPARE(r.count("LOGOUT"), 1);
        for (const ImapServer::Message& m : r.server->folders.value(QStringLiteral("INBOX")))
            QVERIFY(!m.seen);
        QVERIFY(r.traffic.contains(QLatin1String("IMAP Sent: T3 LOGIN \"user\" ****\r\n")));
        QVERIFY(r.traffic.contains(QLatin1String("IMAP Recv: * 3 EXISTS")));
        QVERIFY(!r.traffic.contains(QLatin1String("secret")));
        QVERIFY(!r.ctx->state.internetError);
    }

    // The folder an account names, with a name beyond ASCII; a folder the
    // server lacks; a new UIDVALIDITY gives new unique IDs.
    void folders() {
        Rig r;
        r.folder = QStringLiteral("Entwürfe");
        r.server->deliver(mail(9), QStringLiteral("Entw&APw-rfe"));
        QCOMPARE(r.logIn(), Login::Done);
        QCOMPARE(r.reader->MessageCount(), 1);
        QCOMPARE(r.reader->UniqueIds(1).value(1), QStringLiteral("Entwürfe;UIDVALIDITY=7;UID=4"));
        r.reader->Close();

        r.folder = QStringLiteral("Missing");
        QCOMPARE(r.logIn(), Login::NoCount);
        QVERIFY(r.activity().contains(QLatin1String("Work: IMAP server imap.example.org:143 refused EXAMINE: NO")));

        r.folder.clear();
        r.server->uidValidity = 8;
        QCOMPARE(r.logIn(), Login::Done);
        QCOMPARE(r.reader->UniqueIds(3).value(1), QStringLiteral("INBOX;UIDVALIDITY=8;UID=1"));
    }

    // Logins: quoted, as a literal (waiting for "+" or LITERAL+), and
    // AUTHENTICATE PLAIN where LOGIN is disabled; a wrong password is a
    // refusal; the password never reaches the traffic.
    void logins_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("serverPassword");
        QTest::addColumn<bool>("literalPlus");
        QTest::addColumn<bool>("loginDisabled");
        QTest::addColumn<Login>("expected");
        QTest::addColumn<QByteArray>("verb");
        const QString umlaut = QStringLiteral("p\u00e4ss wort");
        const QByteArray umlautUtf8 = umlaut.toUtf8();
        QTest::newRow("quoted") << "secret" << QByteArray("secret") << false << false << Login::Done
                                << QByteArray("LOGIN");
        QTest::newRow("wrong") << "wrong" << QByteArray("secret") << false << false << Login::Refused
                               << QByteArray("LOGIN");
        QTest::newRow("literal") << umlaut << umlautUtf8 << false << false << Login::Done << QByteArray("LOGIN");
        QTest::newRow("literal plus") << umlaut << umlautUtf8 << true << false << Login::Done << QByteArray("LOGIN");
        QTest::newRow("quote in password") << "a\"b\\c" << QByteArray("a\"b\\c") << false << false << Login::Done
                                           << QByteArray("LOGIN");
        QTest::newRow("plain") << "secret" << QByteArray("secret") << false << true << Login::Done
                               << QByteArray("AUTHENTICATE");
        QTest::newRow("plain wrong") << "wrong" << QByteArray("secret") << false << true << Login::Refused
                                     << QByteArray("AUTHENTICATE");
    }
    void logins() {
        QFETCH(QString, password);
        QFETCH(QByteArray, serverPassword);
        QFETCH(bool, literalPlus);
        QFETCH(bool, loginDisabled);
        QFETCH(Login, expected);
        QFETCH(QByteArray, verb);
        Rig r;
        WritePopSecurity(r.store, QStringLiteral("Work"), Security::None);
        r.server->password = serverPassword;
        r.server->literalPlus = literalPlus;
        r.server->loginDisabled = loginDisabled;
        r.account().SetPassword(password);
        QCOMPARE(r.logIn(), expected);
        QCOMPARE(r.count(verb), 1);
        QCOMPARE(r.server->logins, expected == Login::Done ? 1 : 0);
        const QByteArray blob = ("\0user\0" + password.toUtf8()).toBase64();
        QVERIFY(!r.traffic.contains(password));
        QVERIFY(!r.traffic.contains(QString::fromLatin1(blob)));
        QVERIFY(r.traffic.contains(QLatin1String("****")));
    }

    // The security choices against what the server offers.
    void security_data() {
        QTest::addColumn<Security>("choice");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<bool>("untrusted");
        QTest::addColumn<Login>("expected");
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<QString>("line");
        QTest::newRow("automatic upgrades") << Security::Automatic << 143 << true << false << Login::Done << true << "";
        QTest::newRow("automatic in clear, told")
            << Security::Automatic << 143 << false << false << Login::Done << false << "";
        QTest::newRow("required, not offered")
            << Security::StartTls << 143 << false << false << Login::Failed << false
            << "Work: No secure connection to imap.example.org:143: the server offers no STARTTLS, and STARTTLS "
               "is required";
        QTest::newRow("required, offered") << Security::StartTls << 143 << true << false << Login::Done << true << "";
        QTest::newRow("implicit on 993") << Security::Automatic << 993 << true << false << Login::Done << true << "";
        QTest::newRow("TLS chosen on 143") << Security::Tls << 143 << false << false << Login::Done << true << "";
        QTest::newRow("untrusted certificate")
            << Security::Automatic << 993 << false << true << Login::Failed << false
            << "Work: No secure connection to imap.example.org:993: The certificate is self-signed, and untrusted";
        QTest::newRow("none ignores the offer") << Security::None << 143 << true << false << Login::Done << false << "";
    }
    void security() {
        QFETCH(Security, choice);
        QFETCH(int, port);
        QFETCH(bool, offered);
        QFETCH(bool, untrusted);
        QFETCH(Login, expected);
        QFETCH(bool, encrypted);
        QFETCH(QString, line);
        Rig r;
        WritePopSecurity(r.store, QStringLiteral("Work"), choice);
        r.account().SetMailPort(static_cast<std::int16_t>(port));
        r.server->starttls = offered;
        if (untrusted)
            r.net.setUntrusted(QStringLiteral("imap.example.org"));
        QCOMPARE(r.logIn(), expected);
        QCOMPARE(r.reader->Client().Encrypted(), encrypted);
        const ServerEnd& end = *r.net.connections().last();
        QCOMPARE(end.encrypted, encrypted);
        if (!line.isEmpty())
            QVERIFY2(r.activity().contains(line), qPrintable(r.activity()));
        // No password ever goes in clear when encryption was asked for.
        const bool clearAllowed = choice == Security::None || (choice == Security::Automatic && !offered && port != 993);
        QCOMPARE(r.count("LOGIN"), expected == Login::Done ? 1 : 0);
        if (!clearAllowed && expected == Login::Done && port == 143 && choice != Security::Tls) {
            const qsizetype tls = r.server->verbs.indexOf("STARTTLS");
            QVERIFY(tls >= 0 && tls < r.server->verbs.indexOf("LOGIN"));
        }
        const bool told = choice == Security::Automatic && !offered && port == 143;
        QCOMPARE(r.clearText, told ? QStringList{QStringLiteral("Work@imap.example.org")} : QStringList());
        // After STARTTLS the capabilities are asked for again.
        if (encrypted && port == 143 && choice != Security::Tls)
            QCOMPARE(r.count("CAPABILITY"), 1);
    }

    // A set fetch the server breaks off after any number of answers keeps
    // every message whose answer was complete.
    void brokenSetFetch_data() {
        QTest::addColumn<bool>("headers");
        QTest::addColumn<int>("after");
        for (const bool h : {true, false})
            for (int after = 0; after <= 2; ++after)
                QTest::addRow("%s after %d", h ? "headers" : "messages", after) << h << after;
    }
    void brokenSetFetch() {
        QFETCH(bool, headers);
        QFETCH(int, after);
        Rig r;
        QCOMPARE(r.logIn(), Login::Done);
        r.server->dropAfterFetches = after;
        r.server->chunkSize = 5; // answers arrive in pieces, the break mid-stream
        QList<int> got;
        if (headers) {
            QHash<int, MailboxReader::HeaderAnswer> answers;
            r.reader->RequestHeaders({1, 2, 3}, answers);
            got = answers.keys();
            for (const MailboxReader::HeaderAnswer& a : answers)
                QCOMPARE(a.status, Status::Answered);
            // The rest meet "no answer" when asked for on their own.
            QCOMPARE(r.reader->Header(3).status, Status::NoAnswer);
        } else {
            QHash<int, QString> texts;
            r.reader->RequestMessages({1, 2, 3}, texts);
            got = texts.keys();
            for (auto it = texts.cbegin(); it != texts.cend(); ++it)
                QCOMPARE(it.value(), QString::fromLatin1(mail(it.key())));
        }
        std::sort(got.begin(), got.end());
        QList<int> expected;
        for (int n = 1; n <= after; ++n)
            expected << n;
        QCOMPARE(got, expected);
        QVERIFY(r.ctx->state.internetError);
        QVERIFY(r.activity().contains(QLatin1String("Winsock Error using IMAP")));
    }

    // A header over the limit is too big and the read goes on; a server
    // that stalls or trickles is given up in virtual time.
    void limitsAndTimeouts() {
        {
            Rig r;
            r.server->deliver("Message-ID: <big@x>\r\nX-Pad: " + QByteArray(1 << 21, 'p') + "\r\n\r\nbody\r\n");
            QCOMPARE(r.logIn(), Login::Done);
            QHash<int, MailboxReader::HeaderAnswer> answers;
            r.reader->RequestHeaders({4, 1}, answers);
            QCOMPARE(answers.value(4).status, Status::TooBig);
            QCOMPARE(answers.value(1).status, Status::Answered);
            QCOMPARE(r.reader->Header(2).status, Status::Answered);
        }
        {
            Rig r;
            r.server->silent = true;
            const double start = r.pump.elapsedSeconds();
            QCOMPARE(r.logIn(), Login::Failed);
            QVERIFY(r.pump.elapsedSeconds() - start <= 61);
            QVERIFY(r.activity().contains(QLatin1String("Winsock Error using IMAP")));
        }
        {
            Rig r;
            QCOMPARE(r.logIn(), Login::Done);
            r.server->silentAfter = "UID FETCH";
            const double start = r.pump.elapsedSeconds();
            QHash<int, QString> texts;
            r.reader->RequestMessages({1}, texts);
            QVERIFY(texts.isEmpty());
            const double waited = r.pump.elapsedSeconds() - start;
            QVERIFY2(waited >= 59 && waited <= 61, qPrintable(QString::number(waited)));
        }
        {
            // Five bytes every ten seconds: the idle time-out never ends it,
            // the command's deadline does.
            ClientRig r;
            QCOMPARE(r.open(), 0);
            r.client.SetCommandDeadline(100);
            r.server->chunkSize = 5;
            r.server->chunkDelay = 10;
            const double start = r.pump.elapsedSeconds();
            QHash<quint32, ImapClient::Fetched> out;
            QCOMPARE(r.client.FetchHeaders({1, 2, 3}, out), sockerr::TimedOut);
            const double waited = r.pump.elapsedSeconds() - start;
            QVERIFY2(waited >= 99 && waited <= 101, qPrintable(QString::number(waited)));
            QVERIFY(!r.client.IsOpen());
        }
        {
            // Unasked-for FETCH responses trickling in do not hold a
            // download open past its deadline.
            ClientRig r;
            QCOMPARE(r.open(), 0);
            r.client.SetDownloadDeadline(100);
            r.server->garbageFor = "UID FETCH";
            r.server->garbage = QByteArray("* 1 FETCH (FLAGS ())\r\n").repeated(20);
            r.server->chunkSize = 22;
            r.server->chunkDelay = 20;
            const double start = r.pump.elapsedSeconds();
            QHash<quint32, ImapClient::Fetched> out;
            QCOMPARE(r.client.FetchMessages({1}, out), sockerr::TimedOut);
            const double waited = r.pump.elapsedSeconds() - start;
            QVERIFY2(waited >= 99 && waited <= 101, qPrintable(QString::number(waited)));
        }
        {
            // An unreadable answer drops the connection.
            ClientRig r;
            QCOMPARE(r.open(), 0);
            r.server->garbageFor = "NOOP";
            r.server->garbage = "* 1 FETCH (UID \"open\r\n";
            QCOMPARE(r.client.Noop(), ImapClient::kUnreadable);
            QVERIFY(!r.client.IsOpen());
        }
    }

    // IDLE: news of a delivery while nothing waits, DONE, and the end of
    // the connection while idling.
    void idle() {
        ClientRig r;
        QCOMPARE(r.open(), 0);
        QVERIFY(r.client.Offers("idle"));
        int news = 0;
        QList<int> ended;
        QObject::connect(&r.client, &ImapClient::idleNews, &r.client, [&] { ++news; });
        QObject::connect(&r.client, &ImapClient::idleEnded, &r.client, [&](int e) { ended << e; });
        QCOMPARE(r.client.StartIdle(), 0);
        QVERIFY(r.client.Idling());
        QVERIFY(r.server->idling);
        r.pump.pause(60, nullptr);
        QCOMPARE(news, 0);
        r.server->deliver(mail(4));
        QVERIFY(r.pump.waitUntil([&] { return news > 0; }, 2, nullptr));
        QCOMPARE(r.client.CurrentMailbox().exists, 4);
        // A delivery whose EXISTS crosses the DONE is news too.
        news = 0;
        r.server->deliver(mail(5));
        QCOMPARE(r.client.StopIdle(), 0);
        QVERIFY(!r.client.Idling());
        QCOMPARE(r.server->commands.last(), QByteArray("DONE"));
        QVERIFY(!r.server->idling);
        QVERIFY(r.pump.waitUntil([&] { return news > 0; }, 1, nullptr));
        QCOMPARE(r.client.CurrentMailbox().exists, 5);
        QList<ImapClient::MessageInfo> infos;
        QCOMPARE(r.client.FetchUidsAndSizes(infos), 0);
        QCOMPARE(infos.size(), 5);

        QCOMPARE(r.client.StartIdle(), 0);
        r.net.connections().last()->close(0.5);
        QVERIFY(r.pump.waitUntil([&] { return !ended.isEmpty(); }, 2, nullptr));
        QCOMPARE(ended, QList<int>{sockerr::ConnectionReset});
        QVERIFY(!r.client.Idling());
        QVERIFY(ended.size() == 1);

        ClientRig plain;
        plain.server->idle = false;
        QCOMPARE(plain.open(), 0);
        QCOMPARE(plain.client.StartIdle(), ImapClient::kNotOffered);
        QCOMPARE(plain.count("IDLE"), 0);
    }
};

QTEST_GUILESS_MAIN(TestImapReader)
#include "test_imapreader.moc"
