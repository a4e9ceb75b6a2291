// End to end over a carrier's network service: `tessly --check` reads a
// real Dovecot mailbox and pages new mail to the WCTP simulator (over HTTPS,
// trusted through the settings file's CA file) or to the SNPP simulator.
// Each case runs in a program home and mailbox of its own and asserts what
// the carrier got (request bodies, command lines), the activity log, the
// page ledger and the exit status, over the checks that follow:
//  - new mail is paged once, with the exact payload, and not again;
//  - a carrier's refusal is given up at once and never asked again;
//  - a temporary failure is tried again at the next check, and then goes;
//  - a carrier nobody listens for yet gets the pages once it is there;
//  - WCTP receipts: asked for, awaited in the ledger, collected by a poll.

#include "state/appinfo.h"
#include "app/mainprogram.h"
#include "platform/settingsstore.h"
#include "state/mailsecurity.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/e2eprofile.h"
#include "tests/integration/keptledgers.h"
#include "tests/integration/testcerts.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <optional>

#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

enum class Carrier { Wctp, Snpp };

const QString kSenderId = QStringLiteral("tessaly-e2e");
const QString kSecurityCode = QStringLiteral("pin42");
const QString kPagerId = QStringLiteral("7654321");
const QString kPageHead = QStringLiteral("mon, 7 dec 2026 10:00:00 +0000|From:ann lee <ann@e2e.test>|Subject:");

QByteArray message(const QString& id, const char* subject, const QByteArray& body, const char* extra = "") {
    return "Message-ID: <" + id.toLatin1() +
           "@e2e.test>\n"
           "From: Ann Lee <ann@e2e.test>\n"
           "To: tester@e2e.test\n"
           "Subject: " +
           QByteArray(subject) +
           "\n"
           "Date: Mon, 7 Dec 2026 10:00:00 +0000\n" +
           extra + "\n" + body + "\n";
}

QList<QJsonObject> jsonLines(const QString& path) {
    QList<QJsonObject> out;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            if (!line.trimmed().isEmpty())
                out << QJsonDocument::fromJson(line).object();
    return out;
}

// One WCTP submission as the carrier read it.
struct Submission {
    QStringList shape; // every element as its path, in document order
    QString version, timestamp, senderId, securityCode, messageId, notify, recipientId, text;
};

// Reads a wctp-SubmitRequest operation; none (and the reason) when the body
// is not well-formed XML.
std::optional<Submission> readSubmission(const QString& body, QString* why) {
    Submission s;
    QXmlStreamReader r(body);
    QStringList path;
    while (!r.atEnd()) {
        const QXmlStreamReader::TokenType t = r.readNext();
        if (t == QXmlStreamReader::StartElement) {
            path << r.name().toString();
            s.shape << path.join(QLatin1Char('/'));
            const QXmlStreamAttributes a = r.attributes();
            const QStringView name = r.name();
            if (name == QLatin1String("wctp-Operation")) {
                s.version = a.value(QLatin1String("wctpVersion")).toString();
            } else if (name == QLatin1String("wctp-SubmitHeader")) {
                s.timestamp = a.value(QLatin1String("submitTimestamp")).toString();
            } else if (name == QLatin1String("wctp-Originator")) {
                s.senderId = a.value(QLatin1String("senderID")).toString();
                s.securityCode = a.value(QLatin1String("securityCode")).toString();
            } else if (name == QLatin1String("wctp-MessageControl")) {
                s.messageId = a.value(QLatin1String("messageID")).toString();
                s.notify = a.value(QLatin1String("notifyWhenDelivered")).toString();
            } else if (name == QLatin1String("wctp-Recipient")) {
                s.recipientId = a.value(QLatin1String("recipientID")).toString();
            } else if (name == QLatin1String("wctp-Alphanumeric")) {
                s.text = r.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
                path.removeLast();
            }
        } else if (t == QXmlStreamReader::EndElement) {
            path.removeLast();
        }
    }
    if (r.hasError()) {
        *why = r.errorString();
        return std::nullopt;
    }
    return s;
}

// A carrier simulator of tests/tools, kept on one port across restarts
// (SNPP changes its mode by a restart, WCTP by a control line), with its log
// in `dir` so that the log spans every run of it.
class CarrierSim {
public:
    CarrierSim(Carrier carrier, QString dir, const TestCertificates* tls)
        : carrier_(carrier), log_(dir + QStringLiteral("/carrier.jsonl")), tls_(tls) {
        QDir().mkpath(dir);
    }

    // `mode`: for WCTP a control line's mode ("success", "failure 401 TEXT",
    // "http500"), for SNPP one of the simulator's --mode values.
    bool start(EventPump& pump, const QString& mode, quint16 port = 0) {
        QStringList args{QStringLiteral("--log"), log_, QStringLiteral("--port"), QString::number(port)};
        if (carrier_ == Carrier::Wctp) {
            if (tls_)
                args << QStringLiteral("--tls") << tls_->serverCert() << tls_->serverKey();
        } else {
            args << QStringLiteral("--mode") << mode << QStringLiteral("--password") << kSecurityCode;
            if (tls_)
                args << QStringLiteral("--tls-cert") << tls_->serverCert() << QStringLiteral("--tls-key")
                     << tls_->serverKey();
        }
        process_ = std::make_unique<PeerProcess>();
        port_ = startPortTool(
            *process_, pump,
            carrier_ == Carrier::Wctp ? QStringLiteral("wctp_server.py") : QStringLiteral("snpp_server.py"), args);
        if (port_ == 0 || (port != 0 && port_ != port))
            return false;
        return carrier_ == Carrier::Snpp || switchTo(pump, mode);
    }
    bool switchTo(EventPump& pump, const QString& mode) {
        if (carrier_ == Carrier::Snpp) {
            const quint16 port = port_;
            process_.reset();
            return start(pump, mode, port);
        }
        QProcess& p = process_->process();
        p.write("mode " + mode.toUtf8() + '\n');
        pump.waitUntil([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, 10, nullptr);
        return p.readLine().trimmed() == "OK";
    }
    quint16 port() const { return port_; }
    QList<QJsonObject> log() const { return jsonLines(log_); }
    // WCTP: the bodies of the submissions (polls left out).
    QStringList submissions() const { return bodies(QStringLiteral("<wctp-SubmitRequest")); }
    QStringList polls() const { return bodies(QStringLiteral("<wctp-PollForMessages")); }
    // SNPP: every command line, and the pages the simulator accepted.
    QStringList commands() const {
        QStringList out;
        for (const QJsonObject& o : log())
            if (o.value(QLatin1String("event")).toString() == QLatin1String("command"))
                out << o.value(QLatin1String("line")).toString();
        return out;
    }
    QStringList accepted() const {
        QStringList out;
        for (const QJsonObject& o : log())
            if (o.value(QLatin1String("event")).toString() == QLatin1String("sent"))
                out << o.value(QLatin1String("message")).toString();
        return out;
    }
    // What reached the carrier as pages, whatever it answered: the WCTP
    // submissions, the SNPP PAGE commands.
    int requests() const {
        return static_cast<int>(carrier_ == Carrier::Wctp
                                    ? submissions().size()
                                    : commands().filter(QRegularExpression(QStringLiteral("^PAGE "))).size());
    }

private:
    QStringList bodies(const QString& operation) const {
        QStringList out;
        for (const QJsonObject& o : log()) {
            const QString body = o.value(QLatin1String("body")).toString();
            if (body.contains(operation))
                out << body;
        }
        return out;
    }
    Carrier carrier_;
    QString log_;
    const TestCertificates* tls_;
    quint16 port_ = 0;
    std::unique_ptr<PeerProcess> process_;
};

} // namespace

Q_DECLARE_METATYPE(Carrier)

class TestCarrierE2E : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    KeptLedgers keptLedgers{dir};
    RealEventPump pump;
    DovecotServer dovecot;
    TestCertificates certs;
    // The mailbox of a case's row (Dovecot knows them all from the start):
    // "refusedwctp" for row "wctp" of case "refused".
    static QString caseUser(const char* kase) {
        return QLatin1String(kase) + QString::fromLatin1(QTest::currentDataTag()).remove(QLatin1Char(' '));
    }

    // One case: its program home, settings and mailbox.
    struct Home {
        QString user;
        QString home = {}, config = {}, ini = {};
    };

    // A program home paging pager "On call" (7654321) of service "Default"
    // by `carrier` at `address`, reading mailbox `user`.
    bool makeHome(Home& h, Carrier carrier, const QString& address, bool tls, bool receipts) {
        h.home = dir.path() + QLatin1Char('/') + h.user;
        h.config = h.home + QStringLiteral("-config");
        h.ini = h.config + QStringLiteral("/tessaly/tessaly.ini");
        const QString profile = h.home + QStringLiteral("/carrier.dat");
        if (!QDir().mkpath(h.home))
            return false;
        writeE2eProfile(h.home, profile, dovecot.port(), 200, [&](MainProgram& p) {
            p.Settings().pageBodyHighestPriority = true;
            p.Pagers().Item(1).SetUsername(QStringLiteral("On call"));
            CPOPAccount& account = p.POPAccounts().Item(1);
            account.SetUsername(h.user);
            account.SetPassword(h.user + QStringLiteral("-pw"));
        });
        if (!writeE2eSettings(h.ini, profile, dir.path() + QStringLiteral("/no-modem")))
            return false;
        QList<std::pair<QString, QString>> values{{QStringLiteral("Address"), address},
                                                  {QStringLiteral("Sender ID"), kSenderId},
                                                  {QStringLiteral("Security Code"), kSecurityCode}};
        if (tls && carrier == Carrier::Snpp)
            values.append({QStringLiteral("TLS"), QStringLiteral("1")});
        if (receipts)
            values.append({QStringLiteral("Receipts"), QStringLiteral("1")});
        if (!writeE2eCarrier(h.ini, QStringLiteral("On call"),
                             carrier == Carrier::Wctp ? QStringLiteral("WCTP") : QStringLiteral("SNPP"),
                             QStringLiteral("Default"), values))
            return false;
        if (!tls)
            return true;
        IniSettingsStore ini(h.ini);
        ini.write(kAppTitle, kOutgoingSection, QStringLiteral("CAFile"), certs.ca());
        return ini.lastWriteOk();
    }

    static QString address(Carrier carrier, bool tls, quint16 port) {
        // The test certificate names "localhost".
        if (carrier == Carrier::Wctp)
            return QStringLiteral("%1://localhost:%2/wctp")
                .arg(tls ? QStringLiteral("https") : QStringLiteral("http"))
                .arg(port);
        return QStringLiteral("%1:%2").arg(tls ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1")).arg(port);
    }

    int runCheck(const Home& h, QByteArray* output = nullptr) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TESSALY_HOME"), h.home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), h.config);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(TESSLY_BINARY), {QStringLiteral("--check")});
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (output)
            *output = p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    static QString activity(const Home& h) {
        QFile f(h.home + QStringLiteral("/activity.txt"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    static QList<QJsonObject> ledger(const Home& h, const QString& event) {
        QList<QJsonObject> out;
        for (const QJsonObject& o : jsonLines(h.home + QStringLiteral("/page-ledger.jsonl")))
            if (o.value(QLatin1String("event")).toString() == event)
                out << o;
        return out;
    }
    // Two new messages in the case's mailbox; their page texts.
    QStringList deliverTwo(const Home& h) {
        const bool ok = dovecot.deliver(h.user, message(h.user + QStringLiteral("-a"), "Lunch at noon", "See you.")) &&
                        dovecot.deliver(h.user, message(h.user + QStringLiteral("-b"), "Holiday photos", "Attached."));
        if (!ok)
            return {};
        return {kPageHead + QStringLiteral("lunch at noon"), kPageHead + QStringLiteral("holiday photos")};
    }

    // Pages compared whatever order they went in; a page sent twice shows.
    static QStringList sorted(QStringList l) {
        l.sort();
        return l;
    }

    // Every WCTP submission is the operation the program builds for pager
    // 7654321, with or without receipts; returns their page texts.
    static QStringList checkedSubmissions(const QStringList& bodies, bool receipts, QStringList* messageIds = nullptr) {
        QStringList texts;
        const QString op = QStringLiteral("wctp-Operation/wctp-SubmitRequest");
        QStringList shape{QStringLiteral("wctp-Operation"), op, op + QStringLiteral("/wctp-SubmitHeader"),
                          op + QStringLiteral("/wctp-SubmitHeader/wctp-Originator")};
        if (receipts)
            shape << op + QStringLiteral("/wctp-SubmitHeader/wctp-MessageControl");
        shape << op + QStringLiteral("/wctp-SubmitHeader/wctp-Recipient") << op + QStringLiteral("/wctp-Payload")
              << op + QStringLiteral("/wctp-Payload/wctp-Alphanumeric");
        for (const QString& body : bodies) {
            QString why;
            const std::optional<Submission> s = readSubmission(body, &why);
            if (!s) {
                qWarning("not well-formed (%s): %s", qPrintable(why), qPrintable(body));
                return {};
            }
            const bool good = s->shape == shape && s->version == QLatin1String("wctp-dtd-v1r3") &&
                              QDateTime::fromString(s->timestamp, Qt::ISODate).isValid() && s->senderId == kSenderId &&
                              s->securityCode == kSecurityCode && s->recipientId == kPagerId &&
                              (receipts ? !s->messageId.isEmpty() && s->notify == QLatin1String("true")
                                        : s->messageId.isEmpty() && s->notify.isEmpty());
            if (!good) {
                qWarning("unexpected submission: %s", qPrintable(body));
                return {};
            }
            texts << s->text;
            if (messageIds)
                *messageIds << s->messageId;
        }
        return texts;
    }

private slots:
    void initTestCase() {
        if (!DovecotServer::available())
            QSKIP("dovecot is not installed (Debian package dovecot-pop3d; scripts/setup-deps.sh --tests)");
        if (!QFile::exists(QStringLiteral("/usr/bin/python3")))
            QSKIP("python3 is needed for the carrier simulators");
        QVERIFY2(certs.make(), "openssl could not make the test certificates");
        QHash<QString, QString> accounts;
        for (const char* c : {"deliver", "refused", "temporary", "unreachable"})
            for (const char* row : {"wctp", "snpp", "snppovertls"})
                accounts.insert(QLatin1String(c) + QLatin1String(row),
                                QLatin1String(c) + QLatin1String(row) + QStringLiteral("-pw"));
        QVERIFY(dovecot.start(pump, accounts));
    }
    void cleanupTestCase() { dovecot.stop(); }

    // The WCTP rows go over HTTPS with the test CA named in the settings file.
    void carriers_data() {
        QTest::addColumn<Carrier>("carrier");
        QTest::addColumn<bool>("tls");
        QTest::newRow("wctp") << Carrier::Wctp << true;
        QTest::newRow("snpp") << Carrier::Snpp << false;
    }

    // Three new messages, one check: each is paged once with the page text
    // the program composes (the highest-priority one with its two-line
    // body); the next checks page nothing. WCTP asks for receipts: the
    // delivering check awaits them in the ledger and polls the carrier once
    // its pages are out, recording that each page reached the pager; the
    // next check has nothing left to ask for.
    void newMailPagedOnce_data() {
        carriers_data();
        QTest::newRow("snpp over tls") << Carrier::Snpp << true;
    }
    void newMailPagedOnce() {
        QFETCH(Carrier, carrier);
        QFETCH(bool, tls);
        const bool receipts = carrier == Carrier::Wctp;
        Home h{caseUser("deliver")};
        CarrierSim sim(carrier, dir.path() + QLatin1Char('/') + h.user + QStringLiteral("-sim"),
                       tls ? &certs : nullptr);
        QVERIFY(sim.start(pump, carrier == Carrier::Wctp ? QStringLiteral("success") : QStringLiteral("accept")));
        QVERIFY(makeHome(h, carrier, address(carrier, tls, sim.port()), tls, receipts));
        QVERIFY(dovecot.deliverAll(h.user, {message(h.user + QStringLiteral("-1"), "Lunch at noon", "See you there."),
                                            message(h.user + QStringLiteral("-2"), "Holiday photos", "Not paged."),
                                            message(h.user + QStringLiteral("-3"), "Server down", "Call me\nnow",
                                                    "X-Priority: 1 (Highest)\n")}));
        // The body's last line break goes with the WCTP text; over SNPP it
        // ends the last DATA line.
        const QString urgent = kPageHead + QStringLiteral("server down|Call me\nnow");
        const QStringList expected =
            sorted({kPageHead + QStringLiteral("lunch at noon"), kPageHead + QStringLiteral("holiday photos"),
                    carrier == Carrier::Wctp ? urgent + QLatin1Char('\n') : urgent});

        QByteArray out;
        QVERIFY2(runCheck(h, &out) == 0, out.constData() + activity(h).toUtf8());
        QStringList messageIds;
        if (carrier == Carrier::Wctp) {
            QCOMPARE(sorted(checkedSubmissions(sim.submissions(), receipts, &messageIds)), expected);
            QCOMPARE(activity(h).count(QRegularExpression(
                         QStringLiteral("WCTP Message #\\d delivered to the network \\(tracking ID \\d+\\)"))),
                     3);
        } else {
            QCOMPARE(sorted(sim.accepted()), expected);
            // Per page: PAGE with the security code, the one-line text by MESS
            // and the two-line one by DATA, SEND, QUIT.
            const QStringList commands = sim.commands();
            QCOMPARE(commands.size(), 12);
            QStringList messLines;
            for (int i = 0; i < commands.size(); i += 4) {
                QCOMPARE(commands[i], QStringLiteral("PAGE 7654321 pin42"));
                QCOMPARE(commands.mid(i + 2, 2), (QStringList{QStringLiteral("SEND"), QStringLiteral("QUIT")}));
                messLines << commands[i + 1];
            }
            QCOMPARE(sorted(messLines), sorted({QStringLiteral("MESS ") + kPageHead + QStringLiteral("lunch at noon"),
                                                QStringLiteral("MESS ") + kPageHead + QStringLiteral("holiday photos"),
                                                QStringLiteral("DATA")}));
            QStringList dataLines;
            for (const QJsonObject& o : sim.log())
                if (o.value(QLatin1String("event")).toString() == QLatin1String("data"))
                    dataLines << o.value(QLatin1String("line")).toString();
            QCOMPARE(dataLines, urgent.split(QLatin1Char('\n')));
            QCOMPARE(activity(h).count(QRegularExpression(QStringLiteral("SNPP Message #\\d sent successfully"))), 3);
        }
        // The ledger: three deliveries; with receipts, each names its page's message ID.
        const QList<QJsonObject> delivered = ledger(h, QStringLiteral("delivered"));
        QCOMPARE(delivered.size(), 3);
        QStringList receiptIds;
        for (const QJsonObject& d : delivered) {
            QCOMPARE(d.value(QLatin1String("ids")).toArray().size(), 1);
            QCOMPARE(d.value(QLatin1String("pager")).toString(), QStringLiteral("Default 7654321"));
            receiptIds << d.value(QLatin1String("receipt")).toString();
            QCOMPARE(d.value(QLatin1String("service")).toString(), receipts ? QStringLiteral("Default") : QString());
        }
        QCOMPARE(sorted(receiptIds), receipts ? sorted(messageIds) : QStringList(3, QString()));
        if (receipts) {
            const QStringList polls = sim.polls();
            QCOMPARE(polls.size(), 1);
            QVERIFY2(polls[0].contains(QStringLiteral("pollerID=\"%1\"").arg(kSenderId)) &&
                         polls[0].contains(QStringLiteral("securityCode=\"%1\"").arg(kSecurityCode)),
                     qPrintable(polls[0]));
            const QList<QJsonObject> handset = ledger(h, QStringLiteral("handset"));
            QCOMPARE(handset.size(), 3);
            QStringList reached;
            for (const QJsonObject& o : handset)
                reached << o.value(QLatin1String("receipt")).toString();
            QCOMPARE(sorted(reached), sorted(messageIds));
            QCOMPARE(activity(h).count(QStringLiteral("WCTP: the page to Default 7654321 reached the pager")), 3);
        } else {
            QCOMPARE(ledger(h, QStringLiteral("handset")).size(), 0);
        }
        const int requests = sim.requests();
        // Nothing is paged or awaited any more: the next checks ask the carrier nothing.
        for (int again = 0; again < 2; ++again)
            QVERIFY2(runCheck(h, &out) == 0, out.constData() + activity(h).toUtf8());
        QCOMPARE(ledger(h, QStringLiteral("delivered")).size(), 3);
        QCOMPARE(sim.requests(), requests);
        if (receipts)
            QCOMPARE(sim.polls().size(), 1);
        QCOMPARE(ledger(h, QStringLiteral("handset")).size(), receipts ? 3 : 0);
    }

    // The carrier refuses the pager for good (WCTP 401, SNPP 550): each
    // page is asked for once, given up, and not asked for at the next check.
    void refusalGivenUp_data() { carriers_data(); }
    void refusalGivenUp() {
        QFETCH(Carrier, carrier);
        QFETCH(bool, tls);
        Home h{caseUser("refused")};
        CarrierSim sim(carrier, dir.path() + QLatin1Char('/') + h.user + QStringLiteral("-sim"),
                       tls ? &certs : nullptr);
        QVERIFY(sim.start(pump, carrier == Carrier::Wctp ? QStringLiteral("failure 401 Unauthorized sender")
                                                         : QStringLiteral("reject-pager")));
        QVERIFY(makeHome(h, carrier, address(carrier, tls, sim.port()), tls, false));
        const QStringList texts = deliverTwo(h);
        QVERIFY(!texts.isEmpty());

        QByteArray out;
        QCOMPARE(runCheck(h, &out), 1);
        QVERIFY2(out.contains("the check ran with errors"), out.constData());
        const QString log = activity(h);
        if (carrier == Carrier::Wctp) {
            QCOMPARE(sorted(checkedSubmissions(sim.submissions(), false)), sorted(texts));
            QCOMPARE(log.count(QRegularExpression(QStringLiteral(
                         "WCTP Message #\\d refused by the carrier: 401 Unauthorized sender; not tried again"))),
                     2);
        } else {
            QCOMPARE(sim.commands(), (QStringList{QStringLiteral("PAGE 7654321 pin42"), QStringLiteral("QUIT"),
                                                  QStringLiteral("PAGE 7654321 pin42"), QStringLiteral("QUIT")}));
            QCOMPARE(log.count(QRegularExpression(
                         QStringLiteral("SNPP Message #\\d refused: [^\\n]*550[^\\n]*; not tried again"))),
                     2);
        }
        for (const char* subject : {"lunch at noon", "holiday photos"})
            QVERIFY2(log.contains(QRegularExpression(QStringLiteral("Page for \"%1\" from ann lee <ann@e2e.test> not "
                                                                    "delivered: the pager service refused it "
                                                                    "\\([^\\n]+\\); given up")
                                                         .arg(QLatin1String(subject)))),
                     qPrintable(log));
        QVERIFY(!log.contains(QStringLiteral("tried again at the next check")));
        QCOMPARE(ledger(h, QStringLiteral("given-up")).size(), 2);
        QCOMPARE(ledger(h, QStringLiteral("delivered")).size(), 0);

        QVERIFY2(runCheck(h, &out) == 0, out.constData());
        QCOMPARE(sim.requests(), 2);
        QCOMPARE(activity(h).count(QStringLiteral("given up")), 2);
    }

    // A temporary failure (WCTP: HTTP 500; SNPP: 421 to SEND) leaves both
    // pages for the next check, which, with the carrier well again,
    // delivers each of them once.
    void temporaryFailureTriedAtTheNextCheck_data() { carriers_data(); }
    void temporaryFailureTriedAtTheNextCheck() {
        QFETCH(Carrier, carrier);
        QFETCH(bool, tls);
        Home h{caseUser("temporary")};
        CarrierSim sim(carrier, dir.path() + QLatin1Char('/') + h.user + QStringLiteral("-sim"),
                       tls ? &certs : nullptr);
        QVERIFY(sim.start(pump, carrier == Carrier::Wctp ? QStringLiteral("http500") : QStringLiteral("temp-send")));
        QVERIFY(makeHome(h, carrier, address(carrier, tls, sim.port()), tls, false));
        const QStringList texts = deliverTwo(h);
        QVERIFY(!texts.isEmpty());

        QByteArray out;
        QCOMPARE(runCheck(h, &out), 1);
        QVERIFY2(out.contains("the check ran with errors"), out.constData());
        QString log = activity(h);
        QCOMPARE(sim.requests(), 2);
        const QString notDelivered = carrier == Carrier::Wctp
                                         ? QStringLiteral("WCTP Message #\\d not delivered: [^\\n]*500")
                                         : QStringLiteral("SNPP Message #\\d not delivered: [^\\n]*421");
        QCOMPARE(log.count(QRegularExpression(notDelivered)), 2);
        for (const char* subject : {"lunch at noon", "holiday photos"})
            QVERIFY2(log.contains(QStringLiteral("Page for \"%1\" from ann lee <ann@e2e.test> not delivered (attempt 1 "
                                                 "of 3); tried again at the next check")
                                      .arg(QLatin1String(subject))),
                     qPrintable(log));
        QVERIFY(!log.contains(QStringLiteral("given up")));
        QVERIFY(sim.accepted().isEmpty());
        QCOMPARE(ledger(h, QStringLiteral("failed")).size(), 2);

        QVERIFY(sim.switchTo(pump, carrier == Carrier::Wctp ? QStringLiteral("success") : QStringLiteral("accept")));
        QVERIFY2(runCheck(h, &out) == 0, out.constData() + activity(h).toUtf8());
        QCOMPARE(sim.requests(), 4);
        if (carrier == Carrier::Wctp)
            QCOMPARE(sorted(checkedSubmissions(sim.submissions().mid(2), false)), sorted(texts));
        else
            QCOMPARE(sorted(sim.accepted()), sorted(texts));
        QCOMPARE(ledger(h, QStringLiteral("delivered")).size(), 2);
        QVERIFY2(runCheck(h, &out) == 0, out.constData());
        QCOMPARE(sim.requests(), 4);
    }

    // Nobody listens on the carrier's port yet: the check ends with status
    // 1 and says so; once the carrier is there, the next check delivers.
    void unreachableCarrierThenThere_data() { carriers_data(); }
    void unreachableCarrierThenThere() {
        QFETCH(Carrier, carrier);
        QFETCH(bool, tls);
        Home h{caseUser("unreachable")};
        CarrierSim sim(carrier, dir.path() + QLatin1Char('/') + h.user + QStringLiteral("-sim"),
                       tls ? &certs : nullptr);
        const quint16 port = freePort();
        QVERIFY(makeHome(h, carrier, address(carrier, tls, port), tls, false));
        const QStringList texts = deliverTwo(h);
        QVERIFY(!texts.isEmpty());

        QByteArray out;
        QCOMPARE(runCheck(h, &out), 1);
        QVERIFY2(out.contains("the check ran with errors"), out.constData());
        const QString log = activity(h);
        QCOMPARE(log.count(QRegularExpression(
                     QStringLiteral("%1 Message #\\d not delivered: \\S")
                         .arg(carrier == Carrier::Wctp ? QStringLiteral("WCTP") : QStringLiteral("SNPP")))),
                 2);
        QCOMPARE(log.count(QStringLiteral("(attempt 1 of 3); tried again at the next check")), 2);

        QVERIFY(sim.start(pump, carrier == Carrier::Wctp ? QStringLiteral("success") : QStringLiteral("accept"), port));
        QVERIFY2(runCheck(h, &out) == 0, out.constData() + activity(h).toUtf8());
        QCOMPARE(sim.requests(), 2);
        if (carrier == Carrier::Wctp)
            QCOMPARE(sorted(checkedSubmissions(sim.submissions(), false)), sorted(texts));
        else
            QCOMPARE(sorted(sim.accepted()), sorted(texts));
    }
};

QTEST_GUILESS_MAIN(TestCarrierE2E)
#include "test_carrier_e2e.moc"
