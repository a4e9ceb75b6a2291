// The mail check over IMAP in virtual time, against the scripted IMAP server
// and a scripted modem with a paging terminal behind it: new mail is paged
// once, also when the folder's UIDVALIDITY changes (every unique ID is then
// new, and the inbox knows its mail by the Message-ID), and nothing is
// marked seen.

#include "features/mail/checksession.h"
#include "state/mailsecurity.h"
#include "tests/fakes/fakeserial.h"
#include "tests/fakes/imapscript.h"
#include "tests/fakes/pagingsetup.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/scriptednet.h"

#include <QtTest>

using namespace tessaly;

namespace {

QByteArray mail(const char* id, const char* subject) {
    return QByteArray("Message-ID: <") + id + ">\r\nDate: Mon, 7 Dec 2026 09:15:00 +0000\r\n"
           "From: Ann Lee <ann@example.org>\r\nTo: Bob <bob@example.net>\r\nSubject: " + subject +
           "\r\n\r\nHello there.\r\n";
}

// A modem whose paging terminal acknowledges every block.
void scriptModem(FakeSerialControl& port) {
    port.answer(QStringLiteral("^AT"), "\r\nOK\r\n", 0.2);
    port.rules.prepend({QRegularExpression(QStringLiteral("^ATD[TP][0-9]+$")), "\r\nCONNECT 1200\r\n", 1});
    port.answer(QStringLiteral("^$"), "ID=", 0.3);
    port.answer(QStringLiteral("^\\x1bPG1"), "\r\x06\r\x1b[p\r", 0.3);
    port.answer(QStringLiteral("^\\x03"), "\x06\r", 0.3);
    port.answer(QStringLiteral("^\\x04$"), "\x1b\x04\r", 0.2);
}

struct Rig : ProgramRig {
    ScriptedNet net{pump};
    FakeSerialControl port{pump};
    std::shared_ptr<ImapServer> server = std::make_shared<ImapServer>();

    Rig() : ProgramRig(QDateTime(QDate(2026, 12, 7), QTime(9, 0))) {
        net.listen(QStringLiteral("imap.example.org"), 143, [this] { return makeImapScript(server); });
        scriptModem(port);
        WriteMailProtocol(store, QStringLiteral("Work"), MailProtocol::Imap);
        startWithoutProfile({.serial = &port, .links = &net});
        LiveSettings& s = program->Settings();
        s.connectionType = ConnDirect;
        s.downloadFlag = true;
        s.pagingEnabled = true;
        s.pageHeaders = true;
        s.messageSizeLimit = 20;
        s.retries = 0;
        program->POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("imap.example.org"), 143,
                                   QStringLiteral("user"), QStringLiteral("secret"), true);
        CPager& pager = program->Pagers().Item(1);
        pager.SetID(QStringLiteral("1234"));
        pager.SetDigitalNumber(QStringLiteral("5550100"));
        pager.SetServiceName(QStringLiteral("Default"));
        CPagerService& service = program->Services().Item(1);
        setUpTapService(service, QStringLiteral("5551234"), 2, QStringLiteral("AT&F"));
        service.SetMaxPageChar(200);
    }
    void check() { program->Session().Check(true, true); }
    // The subjects among the pages the terminal received, in order.
    QStringList pagedSubjects() const {
        QStringList out;
        const QString w = QString::fromLatin1(port.written);
        for (const char* s : {"zulu", "yankee", "xray"})
            for (qsizetype at = w.indexOf(QLatin1String(s)); at >= 0; at = w.indexOf(QLatin1String(s), at + 1))
                out << QLatin1String(s);
        return out;
    }
};

} // namespace

class TestImapCheck : public QObject {
    Q_OBJECT
private slots:
    void pagesOnceAcrossNewUidValidity() {
        Rig r;
        r.server->deliver(mail("a@x", "zulu"));
        r.server->deliver(mail("b@x", "yankee"));
        r.check();
        QCOMPARE(r.pagedSubjects(), QStringList({"zulu", "yankee"}));
        QCOMPARE(r.program->Session().LastOutcome().accountsNotRead, 0);

        // The same mail again: nothing new.
        r.check();
        QCOMPARE(r.pagedSubjects(), QStringList({"zulu", "yankee"}));

        // The folder was rebuilt: new UIDVALIDITY, new UIDs, one new message.
        r.server->uidValidity = 99;
        QList<ImapServer::Message>& box = r.server->folders[QStringLiteral("INBOX")];
        for (ImapServer::Message& m : box)
            m.uid += 100;
        r.server->nextUid = box.last().uid + 1;
        r.server->deliver(mail("c@x", "xray"));
        r.check();
        QCOMPARE(r.pagedSubjects(), QStringList({"zulu", "yankee", "xray"}));
        // The known messages' headers were read again under their new IDs:
        // the Message-ID, not the unique ID, kept them from a second page.
        QVERIFY(std::any_of(r.server->commands.cbegin(), r.server->commands.cend(), [](const QByteArray& c) {
            return c.contains("UID FETCH 101:103 (UID BODY.PEEK[HEADER])");
        }));
        for (const ImapServer::Message& m : r.server->folders.value(QStringLiteral("INBOX")))
            QVERIFY(!m.seen);
        QCOMPARE(r.server->verbs.count("SELECT"), 0);
    }
};

QTEST_GUILESS_MAIN(TestImapCheck)
#include "test_imapcheck.moc"
