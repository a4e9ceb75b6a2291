// The inbox state file read back: every character a header can carry comes
// back as it was written, JSON written by hand in other layouts is read, and
// a damaged file changes nothing.

#include "features/mail/cmail.h"
#include "features/mail/inboxstate.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;

namespace {

const QString kUid = QStringLiteral("pop.example.org/me 17");
const QString kId = QStringLiteral("<m1@example.org>");

// Whether the message `kId` comes out paged once it is on the server again.
bool pagedAfterMerge(Inbox& inbox) {
    auto mail = std::make_unique<CMail>();
    mail->SetID(kId);
    return inbox.Add(std::move(mail), kId).Paged();
}

} // namespace

class TestInboxState : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path() const { return dir_.path() + QStringLiteral("/state.json"); }
    void write(const QByteArray& text) const {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

private slots:
    void headerValuesComeBackAsWritten_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("quotes and backslashes") << QStringLiteral(R"(say "hi" \ bye \u0041)");
        QTest::newRow("control characters") << QStringLiteral("tab\there\x01\x1f end");
        QTest::newRow("accented") << QStringLiteral("Grüße, café");
        QTest::newRow("outside the basic plane") << QString::fromUtf8("mail \xF0\x9F\x98\x80 face");
        QTest::newRow("empty") << QString();
        QTest::newRow("long") << QString(1000, QLatin1Char('x'));
    }
    // However long a header value arrives, the file keeps at most 1 KiB of
    // it, so a mailbox of huge headers cannot grow the file past what is read.
    void longHeaderValuesAreBounded() {
        Inbox written;
        KnownHeader h;
        h.id = kId;
        h.subject = QString(1 << 20, QLatin1Char('s'));
        h.from = QString(5000, QLatin1Char('f'));
        written.SetKnown(kUid, h);
        QString error;
        QVERIFY2(SaveInboxState(written, path(), &error), qPrintable(error));
        QVERIFY(QFileInfo(path()).size() < 4096);
        Inbox read;
        QVERIFY2(MergeInboxState(read, path(), &error), qPrintable(error));
        const KnownHeader* back = read.Known(kUid);
        QVERIFY(back);
        QCOMPARE(back->subject, h.subject.left(1024));
        QCOMPARE(back->from, h.from.left(1024));
        QCOMPARE(back->id, kId);
    }
    void headerValuesComeBackAsWritten() {
        QFETCH(QString, text);
        Inbox written;
        KnownHeader h;
        h.id = kId;
        h.subject = text;
        h.from = text + QStringLiteral("<a@b>");
        h.size = 123456;
        h.priority = -3;
        h.filteredBy = text;
        written.SetKnown(kUid, h);
        auto mail = std::make_unique<CMail>();
        mail->SetID(kId);
        written.Add(std::move(mail), kId).SetPaged(true);
        QString error;
        QVERIFY2(SaveInboxState(written, path(), &error), qPrintable(error));

        Inbox read;
        QVERIFY2(MergeInboxState(read, path(), &error), qPrintable(error));
        const KnownHeader* back = read.Known(kUid);
        QVERIFY(back);
        QCOMPARE(back->subject, h.subject);
        QCOMPARE(back->from, h.from);
        QCOMPARE(back->filteredBy, h.filteredBy);
        QCOMPARE(back->size, h.size);
        QCOMPARE(back->priority, h.priority);
        QVERIFY(pagedAfterMerge(read));
    }

    // The file is read 64 KiB at a time: a token cut by a piece's end reads
    // as if it were whole, wherever the cut falls in it.
    void tokensAcrossPieceBoundaries_data() {
        QTest::addColumn<QByteArray>("token"); // the text the cut falls in
        QTest::newRow("escaped pair") << QByteArray(R"("subject":"a\u00e9\ud83d\ude00b")");
        QTest::newRow("number") << QByteArray(R"("size":123456)");
        QTest::newRow("keyword") << QByteArray(R"("paged":true)");
        QTest::newRow("key") << QByteArray(R"("uid":"pop.example.org/me 17")");
    }
    void tokensAcrossPieceBoundaries() {
        QFETCH(QByteArray, token);
        constexpr qsizetype kPiece = 64 * 1024;
        QByteArray message = R"({"id":"<m1@example.org>","paged":true})";
        QByteArray header = R"({"uid":"pop.example.org/me 17","id":"<m1@example.org>",)"
                            R"("subject":"a\u00e9\ud83d\ude00b","size":123456})";
        for (qsizetype cut = 0; cut <= token.size(); ++cut) {
            QByteArray text = R"({"format":2,"messages":[)";
            QByteArray* holder = token.startsWith("\"paged") ? &message : &header;
            const QByteArray before = text + (holder == &header ? message + R"(],"headers":[)" : QByteArray());
            // White space before the object holding the token puts the cut
            // `cut` bytes into the token.
            const qsizetype at = holder->indexOf(token);
            QVERIFY(at >= 0);
            const qsizetype pad = 2 * kPiece - cut - before.size() - at;
            text = before + QByteArray(pad, ' ') + *holder;
            text += holder == &header ? QByteArray("]}") : QByteArray(R"(],"headers":[)") + header + "]}";
            QCOMPARE(text.indexOf(token), 2 * kPiece - cut);
            write(text);
            Inbox read;
            QString error;
            QVERIFY2(MergeInboxState(read, path(), &error), qPrintable(QStringLiteral("cut %1: ").arg(cut) + error));
            const KnownHeader* back = read.Known(kUid);
            QVERIFY2(back, qPrintable(QStringLiteral("cut %1").arg(cut)));
            QCOMPARE(back->subject, QString::fromUtf8("a\xC3\xA9\xF0\x9F\x98\x80" "b"));
            QCOMPARE(back->size, 123456);
            QVERIFY(pagedAfterMerge(read));
        }
    }

    void filesReadOrRefused_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("read");
        QTest::addColumn<QString>("subject"); // of the known header, when read
        QTest::addColumn<bool>("paged");
        const QByteArray header = R"({"uid":"pop.example.org/me 17","id":"<m1@example.org>","subject":)";
        QTest::newRow("spaced out, keys reordered, unknown values nested")
            << QByteArray(" {\n \"messages\" : [ {\"paged\" : true , \"x\":{\"y\":[1,null,{}]}, \"id\":\"<m1@example.org>\"} ],"
                          "\t\"format\" : 2 , \"headers\":[") + header + R"("a\u00e9\ud83d\ude00\n\/b"}] } )"
            << true << QString::fromUtf8("a\xC3\xA9\xF0\x9F\x98\x80\n/b") << true;
        QTest::newRow("values of the wrong type fall back")
            << QByteArray(R"({"format":2,"messages":[{"id":"<m1@example.org>","paged":"yes"}],"headers":[)") + header +
                   R"(7,"size":"12","priority":1.5}]})"
            << true << QString() << false;
        QTest::newRow("lone half of a pair")
            << QByteArray(R"({"format":2,"messages":[{"id":"<m1@example.org>","paged":true}],"headers":[)") + header +
                   R"("\ud83d!"}]})"
            << true << QString::fromUtf8("\xEF\xBF\xBD!") << true;
        const QByteArray good = QByteArray(R"({"format":2,"messages":[{"id":"<m1@example.org>","paged":true}],"headers":[)") +
                                header + R"("s"}]})";
        QTest::newRow("cut short") << good.left(good.size() - 3) << false << QString() << false;
        QTest::newRow("text after the end") << good + "x" << false << QString() << false;
        QTest::newRow("bad escape") << QByteArray(good).replace("\"s\"", "\"\\q\"") << false << QString() << false;
        QTest::newRow("raw line end in a string") << QByteArray(good).replace("\"s\"", "\"a\nb\"") << false << QString() << false;
        QTest::newRow("nested without end") << QByteArray(R"({"format":2,"x":)") + QByteArray(100000, '[') << false
                                            << QString() << false;
        QTest::newRow("no message list") << QByteArray(R"({"format":2,"messages":{}})") << false << QString() << false;
    }
    void filesReadOrRefused() {
        QFETCH(QByteArray, text);
        QFETCH(bool, read);
        QFETCH(QString, subject);
        QFETCH(bool, paged);
        write(text);
        Inbox inbox;
        QString error;
        QCOMPARE(MergeInboxState(inbox, path(), &error), read);
        QCOMPARE(error.isEmpty(), read);
        const KnownHeader* known = inbox.Known(kUid);
        QCOMPARE(known != nullptr, read);
        if (known)
            QCOMPARE(known->subject, subject);
        QCOMPARE(pagedAfterMerge(inbox), paged);
    }
};

QTEST_GUILESS_MAIN(TestInboxState)
#include "test_inboxstate.moc"
