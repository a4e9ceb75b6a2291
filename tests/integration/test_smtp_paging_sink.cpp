// E-mail pages and the quick note against a real SMTP server (aiosmtpd) on
// 127.0.0.1: a queued type-1 page goes out through the main program's
// control, a quick note through its own; the server records what arrived.

#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "features/paging/quicknote.h"
#include "platform/bytelink.h"
#include "platform/settingsstore.h"
#include "platform/smtpcontrol.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/integration/smtpsink.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

QStringList headerLines(const QString& data) {
    return data.left(data.indexOf(QLatin1String("\r\n\r\n"))).split(QStringLiteral("\r\n"));
}
QString bodyOf(const QString& data) { return data.mid(data.indexOf(QLatin1String("\r\n\r\n")) + 4); }

} // namespace

class TestSmtpPagingSink : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    quint16 port_ = 0;
    SmtpSinkServer sink_;
    RealEventPump pump_;
    ScriptedPrompter prompter_;
    MemorySettingsStore store_;
    FakeSoundDevice sound_;
    HeadlessMainView view_{false};
    TcpLinkFactory links_;
    std::unique_ptr<SmtpClient> smtp_;
    std::unique_ptr<MainProgram> program_;

    QStringList activity() const {
        QStringList out;
        for (const QString& line : program_->ActivityText().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            out << line.left(line.lastIndexOf(QLatin1String("   ")));
        return out;
    }

private slots:
    void initTestCase() {
        if (!SmtpSinkServer::available())
            QSKIP("python3-aiosmtpd is not installed (scripts/setup-deps.sh --tests)");
        port_ = freeLowPort();
        QVERIFY(port_ != 0);
        QVERIFY2(sink_.start(pump_, port_), "the SMTP sink did not start listening");
        port_ = sink_.port();

        store_.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("DefaultFile"), QString());
        smtp_ = std::make_unique<SmtpClient>(pump_, links_);
        program_ = std::make_unique<MainProgram>(
            PlatformServices{pump_, prompter_, store_, sound_, home_.path(), QSize(15360, 11520), nullptr,
                             nullptr, nullptr, nullptr, nullptr, smtp_.get()},
            view_);
        program_->Startup(QString());
        LiveSettings& s = program_->Settings();
        s.connectionType = ConnDirect;
        s.smtpHostAddress = QStringLiteral("127.0.0.1");
        s.smtpHostName = QStringLiteral("ignored.invalid"); // the address wins
        s.smtpPort = static_cast<std::int16_t>(port_);
        s.domainName = QStringLiteral("client.test");
        s.maxPagesPerMessage = 0;
        program_->Services().Item(1).SetMaxPageChar(80);
        program_->Pagers().Item(1).SetFromAddress(QStringLiteral("owner@client.test"));
    }

    void queuedPageReachesTheServer() {
        sink_.Clear();
        // As the mail check queues it: no sender, a subject.
        program_->Queue().Add(QStringLiteral("Default"), QStringLiteral("5551234@pager.test"),
                              QStringLiteral("From: Bob, Re: lunch at noon"), false, PagerAlphaSMTP, QString(),
                              QStringLiteral("New mail"));
        program_->SendQueue();
        QCOMPARE(program_->Queue().Count(), 0);
        QVERIFY(activity().contains(QStringLiteral("SMTP Message #1 (1 of 1) sent successfully")));

        const QList<QJsonObject> got = sink_.received();
        QCOMPARE(got.size(), 1);
        const QJsonObject m = got[0];
        QCOMPARE(m[QStringLiteral("helo")].toString(), QStringLiteral("client.test"));
        QCOMPARE(m[QStringLiteral("mail_from")].toString(), QStringLiteral("owner@client.test"));
        QCOMPARE(m[QStringLiteral("rcpt_tos")].toArray(), QJsonArray{QStringLiteral("5551234@pager.test")});
        const QString data = m[QStringLiteral("data")].toString();
        const QStringList headers = headerLines(data);
        QVERIFY(headers.contains(QStringLiteral("From: owner@client.test")));
        QVERIFY(headers.contains(QStringLiteral("To: 5551234@pager.test")));
        QVERIFY(headers.contains(QStringLiteral("Subject: New mail")));
        QCOMPARE(bodyOf(data), QStringLiteral("From: Bob, Re: lunch at noon\r\n"));
    }

    void quickNoteReachesTheServer() {
        sink_.Clear();
        SmtpClient own(pump_, links_); // the note's own control
        QuickNote note(program_->QuickNoteServices(), own);
        QCOMPARE(note.Load(), QStringLiteral("owner@client.test"));
        const auto outcome = note.Send({QStringLiteral("bob@example.test"), QStringLiteral("Lunch"),
                                        QStringLiteral("ann@client.test"), QStringLiteral("At noon?\n.\nAnn")});
        QCOMPARE(outcome, QuickNote::Outcome::Sent);
        QVERIFY(activity().contains(QStringLiteral("Message sent successfully")));

        const QList<QJsonObject> got = sink_.received();
        QCOMPARE(got.size(), 1);
        const QJsonObject m = got[0];
        QCOMPARE(m[QStringLiteral("mail_from")].toString(), QStringLiteral("ann@client.test"));
        QCOMPARE(m[QStringLiteral("rcpt_tos")].toArray(), QJsonArray{QStringLiteral("bob@example.test")});
        const QString data = m[QStringLiteral("data")].toString();
        const QStringList headers = headerLines(data);
        QVERIFY(headers.contains(QStringLiteral("From: ann@client.test")));
        QVERIFY(headers.contains(QStringLiteral("To: bob@example.test")));
        QVERIFY(headers.contains(QStringLiteral("Subject: Lunch")));
        QVERIFY(headers.contains(QStringLiteral("X-Mailer: Tessaly v1.1")));
        QCOMPARE(bodyOf(data), QStringLiteral("At noon?\r\n.\r\nAnn\r\n"));
    }

    void cleanupTestCase() {
        program_.reset();
        smtp_.reset();
        sink_.stop();
    }
};

QTEST_GUILESS_MAIN(TestSmtpPagingSink)
#include "test_smtp_paging_sink.moc"
