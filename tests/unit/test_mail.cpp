// Header fields and the inbox's keep-and-purge cycle.

#include "features/mail/cmail.h"
#include "features/mail/headerfields.h"

#include <QtTest>

using namespace tessaly;
namespace h = tessaly::headers;

class TestMail : public QObject {
    Q_OBJECT
private slots:
    void fieldsOfATypicalHeader() {
        const QString header = QStringLiteral(
            "+OK 2381 octets\r\n"
            "Received: from mx.example.org\r\n"
            "Message-ID: <ABC.123@Example.org>\r\n"
            "Date: Mon, 6 Dec 1999 10:15:02 -0500\r\n"
            "From: Ann Lee <Ann@Example.org>\r\n"
            "To: Bob <bob@example.net>\r\n"
            "Subject: Hello World\r\n"
            "X-Priority: 3 (Normal)\r\n"
            "\r\n");
        QCOMPARE(h::MessageId(header), QStringLiteral("<abc.123@example.org>"));
        QCOMPARE(h::DateSent(header), QStringLiteral("mon, 6 dec 1999 10:15:02 -0500"));
        QCOMPARE(h::From(header), QStringLiteral("ann lee <ann@example.org>"));
        // "received: from" comes first, but it is "from " not "from:".
        QCOMPARE(h::To(header), QStringLiteral("bob <bob@example.net>"));
        QCOMPARE(h::Subject(header), QStringLiteral("hello world"));
        QCOMPARE(h::Priority(header), 3);
        QCOMPARE(h::Size(header), 2381);

        CMail m;
        m.FillFromHeader(header);
        QCOMPARE(m.Header(), header);
        QCOMPARE(m.ID(), QStringLiteral("<abc.123@example.org>"));
        QCOMPARE(m.MailTo(), QStringLiteral("bob <bob@example.net>"));
        QCOMPARE(m.Size(), 2381);
        QVERIFY(!m.NewMessage() && !m.Paged() && !m.Downloaded() && !m.KeepMessage());
    }

    void searchRulesAreTextRulesNotHeaderRules() {
        // The first occurrence anywhere wins, even inside another header's name.
        QCOMPARE(h::DateSent(QStringLiteral("Resent-Date: A\r\nDate: B\r\n")), QStringLiteral("a"));
        // No blank after "subject:" is no match; a later one is used.
        QCOMPARE(h::Subject(QStringLiteral("Subject:\r\nX: 1\r\n")), QString());
        QCOMPARE(h::Subject(QStringLiteral("Subject:\r\nX-Subject: later\r\n")), QStringLiteral("later"));
        // Values keep their blanks; folded continuation lines are not added.
        QCOMPARE(h::Subject(QStringLiteral("Subject:  two  \r\n more\r\n")), QStringLiteral(" two  "));
        // Patterns without a trailing blank skip one character, whatever it is.
        QCOMPARE(h::From(QStringLiteral("From:ann\r\n")), QStringLiteral("nn"));
        // The last line without CR gives nothing.
        QCOMPARE(h::From(QStringLiteral("From: ann")), QString());
        QCOMPARE(h::From(QStringLiteral("From:\r\n")), QString());
        QCOMPARE(h::MessageId(QStringLiteral("no headers")), QString());
    }

    void recipientDashRule() {
        QCOMPARE(h::To(QStringLiteral("Reply-To: r@x\r\nTo: t@x\r\n")), QStringLiteral("t@x"));
        // Only one retry: the second occurrence is taken even after a dash.
        QCOMPARE(h::To(QStringLiteral("In-Reply-To: <1@x>\r\nReply-To: r@x\r\nTo: t@x\r\n")), QStringLiteral("r@x"));
        QCOMPARE(h::To(QStringLiteral("Reply-To: r@x\r\n")), QString());
        // A match at the very start has no dash before it.
        QCOMPARE(h::To(QStringLiteral("To: first@x\r\n")), QStringLiteral("first@x"));
    }

    // The body is held compactly, and every text comes back as it was set:
    // 8-bit bytes as received, and characters beyond Latin-1 (a remote
    // command's reply, say) too.
    void bodyComesBackAsSet() {
        const QString texts[] = {QString(), QStringLiteral("plain\r\n.dot\r\n"),
                                 QString::fromLatin1("caf\xe9 \xff\x01"), QStringLiteral("price 5 \u20ac, \u65e5\u672c")};
        for (const QString& text : texts) {
            CMail m;
            m.SetBody(text);
            QCOMPARE(m.Body(), text);
        }
    }
    void priorityAndSize() {
        QCOMPARE(h::Priority(QStringLiteral("Subject: x\r\n")), 0);
        QCOMPARE(h::Priority(QStringLiteral("X-Priority: 2.5\r\n")), 2);
        QCOMPARE(h::Priority(QStringLiteral("X-Priority: 3.5\r\n")), 4);
        QCOMPARE(h::Priority(QStringLiteral("X-Priority: high\r\n")), 0);
        QCOMPARE(h::Priority(QStringLiteral("X-Priority: 99999999\r\n")), 0); // does not fit: none
        QCOMPARE(h::Size(QStringLiteral("+OK  12 octets, not 99 octets\r\n")), 12); // the first "octets"
        QCOMPARE(h::Size(QStringLiteral("+OK\r\nSubject: 12 octets\r\n")), 0); // no number right after "+OK"
        QCOMPARE(h::Size(QStringLiteral("+OK message follows\r\n")), 0);
        QCOMPARE(h::Size(QStringLiteral("-ERR 12 octets\r\n")), 0);
        QCOMPARE(h::Size(QStringLiteral("+ok 12 octets\r\n")), 0); // case counts here
        QCOMPARE(h::Size(QStringLiteral("+OK 99999999999 octets\r\n")), 0);
    }

    void veryLongHeadersStaySane() {
        QString header = QStringLiteral("+OK 5 octets\r\n") + QString(40000, QLatin1Char('x')) +
                         QStringLiteral("\r\nSubject: far away\r\nFrom: end");
        QCOMPARE(h::Subject(header), QStringLiteral("far away"));
        QCOMPARE(h::From(header), QString());
        QCOMPARE(h::Size(header), 5);
        header = QString(70000, QLatin1Char('t')) + QStringLiteral("o:");
        QCOMPARE(h::To(header), QString()); // the value would start past the end
    }

    void keepAndPurgeCycle() {
        Inbox inbox;
        QVERIFY(inbox.IsNewMail(QStringLiteral("<a>")));
        auto make = [](const char* id) {
            auto m = std::make_unique<CMail>();
            m->SetID(QString::fromLatin1(id));
            m->SetNewMessage(true);
            m->SetPaged(true); // Add clears it
            return m;
        };
        inbox.Add(make("<a>"), QStringLiteral("<a>"));
        inbox.Add(make("<b>"), QStringLiteral("<b>"));
        inbox.Add(make("<c>"), QStringLiteral("<c>"));
        QVERIFY(!inbox.Item(1).Paged());
        QVERIFY(inbox.Item(1).KeepMessage());
        QVERIFY(!inbox.IsNewMail(QStringLiteral("<b>")));
        QVERIFY(inbox.IsNewMail(QStringLiteral("<B>"))); // exact comparison
        QVERIFY_THROWS_EXCEPTION(TessalyError, inbox.Add(make("<a>"), QStringLiteral("<a>")));

        // Next check: b and c are still on the server, and b was paged meanwhile.
        inbox.Item(QStringLiteral("<b>")).SetPaged(true);
        inbox.ResetKeep();
        inbox.KeepMessage(QStringLiteral("<b>"));
        inbox.KeepMessage(QStringLiteral("<c>"));
        inbox.KeepMessage(QStringLiteral("<unknown>")); // ignored
        inbox.PurgeOld();
        QCOMPARE(inbox.Count(), 2);
        QCOMPARE(inbox.Item(1).ID(), QStringLiteral("<b>"));
        QVERIFY(inbox.Item(1).Paged()); // survives: not paged again
        QCOMPARE(inbox.NewMailCount(), 2);
        inbox.Item(2).SetNewMessage(false);
        QCOMPARE(inbox.NewMailCount(), 1);

        // Nothing kept: everything goes; everything kept: nothing goes.
        inbox.PurgeOld();
        QCOMPARE(inbox.Count(), 2);
        inbox.ResetKeep();
        inbox.PurgeOld();
        QCOMPARE(inbox.Count(), 0);
    }

    void remoteCommandsSeeOnlyUnpagedMessages() {
        Inbox inbox;
        for (const char* id : {"<1>", "<2>", "<3>"}) {
            auto m = std::make_unique<CMail>();
            m->SetID(QString::fromLatin1(id));
            m->SetSubject(QStringLiteral("subject ") + QString::fromLatin1(id));
            m->SetBody(QStringLiteral("body"));
            inbox.Add(std::move(m), QString::fromLatin1(id));
        }
        inbox.Item(2).SetPaged(true);
        inbox.CheckRemoteCmd(); // no interpreter: nothing happens
        QStringList seen;
        inbox.SetRemoteCommandHandler(
            [&](const CMail& m, const QString& b) { seen << m.Subject() + QLatin1Char('/') + b; });
        inbox.CheckRemoteCmd();
        QCOMPARE(seen, (QStringList{"subject <1>/body", "subject <3>/body"}));
    }
};

QTEST_GUILESS_MAIN(TestMail)
#include "test_mail.moc"
