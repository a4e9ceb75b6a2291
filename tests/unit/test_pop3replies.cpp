// The readers of POP3 answers against well-formed and hostile server text.

#include "platform/pop3replies.h"

#include <QTest>
#include <algorithm>

using namespace tessaly;

namespace {

// "1=120 2=80", by message number.
template <typename T>
QString listed(const QHash<int, T>& values) {
    QList<int> numbers = values.keys();
    std::sort(numbers.begin(), numbers.end());
    QStringList out;
    for (int n : numbers)
        out << QStringLiteral("%1=%2").arg(n).arg(values.value(n));
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestPop3Replies : public QObject {
    Q_OBJECT
private slots:
    void list_data();
    void list();
    void uidl_data();
    void uidl();
    void status_data();
    void status();
    void batches_data();
    void batches();
};

void TestPop3Replies::list_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expected");
    QTest::newRow("crlf") << "+OK 2 messages\r\n1 120\r\n2 80\r\n.\r\n" << "1=120 2=80";
    QTest::newRow("bare lf") << "+OK\n1 120\n2 80\n.\n" << "1=120 2=80";
    QTest::newRow("status line is no entry") << "1 5\r\n2 6\r\n.\r\n" << "2=6";
    QTest::newRow("missing size") << "+OK\r\n1\r\n2 80\r\n.\r\n" << "2=80";
    QTest::newRow("missing number") << "+OK\r\n 120\r\nx 5\r\n2 80\r\n.\r\n" << "2=80";
    QTest::newRow("junk and extra words") << "+OK\r\njunk line\r\n1 120 octets\r\n2 8x\r\n3 30\r\n.\r\n" << "3=30";
    QTest::newRow("spaces around and between") << "+OK\r\n  1   120  \r\n.\r\n" << "1=120";
    QTest::newRow("tab is no separator") << "+OK\r\n1\t120\r\n.\r\n" << "";
    QTest::newRow("huge size pulled to 32 bits") << "+OK\r\n1 99999999999\r\n2 2147483648\r\n.\r\n"
                                                 << "1=2147483647 2=2147483647";
    QTest::newRow("huge negative size") << "+OK\r\n1 -99999999999\r\n2 -3\r\n.\r\n" << "1=-2147483648 2=-3";
    QTest::newRow("number beyond int") << "+OK\r\n99999999999 5\r\n1 7\r\n.\r\n" << "1=7";
    QTest::newRow("listed twice keeps last") << "+OK\r\n1 10\r\n1 20\r\n.\r\n" << "1=20";
    QTest::newRow("refused") << "-ERR no such command\r\n" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("cut off") << "+OK\r\n1 120\r\n2 8" << "1=120 2=8";
}

void TestPop3Replies::list() {
    QFETCH(QString, answer);
    QFETCH(QString, expected);
    QCOMPARE(listed(pop3::ParseList(answer)), expected);
}

void TestPop3Replies::uidl_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expected");
    const QString id70(70, QLatin1Char('a'));
    QTest::newRow("crlf") << "+OK\r\n1 whqtswO00WBw418f9t5JxYwZ\r\n2 QhdPYR:00WBw1Ph7x7\r\n.\r\n" << 2
                          << "1=whqtswO00WBw418f9t5JxYwZ 2=QhdPYR:00WBw1Ph7x7";
    QTest::newRow("bare lf") << "+OK\n1 a\n2 b\n.\n" << 2 << "1=a 2=b";
    QTest::newRow("no line after the status") << "+OK 1 a" << 1 << "";
    QTest::newRow("no mailbox") << "+OK\r\n1 a\r\n.\r\n" << 0 << "";
    QTest::newRow("numbers outside the mailbox") << "+OK\r\n0 zero\r\n3 three\r\n-1 minus\r\n2 two\r\n.\r\n" << 2
                                                 << "2=two";
    QTest::newRow("missing number or id") << "+OK\r\n a\r\n1\r\n1 \r\nx b\r\n2 c\r\n.\r\n" << 2 << "2=c";
    QTest::newRow("70 characters and 71") << "+OK\r\n1 " + id70 + "\r\n2 " + id70 + "b\r\n.\r\n" << 2
                                          << "1=" + id70;
    QTest::newRow("control and non-printable characters")
        << QStringLiteral("+OK\r\n1 bad\x01id\r\n2 del\x7fid\r\n3 caf\u00e9\r\n4 two words\r\n5 ok\r\n.\r\n") << 5
        << "5=ok";
    QTest::newRow("two blanks make a blank in the id") << "+OK\r\n1  a\r\n.\r\n" << 1 << "";
    QTest::newRow("first line for a number counts") << "+OK\r\n1 a\r\n1 b\r\n2 b\r\n.\r\n" << 2 << "1=a 2=b";
    QTest::newRow("id given twice names neither") << "+OK\r\n1 same\r\n2 other\r\n3 same\r\n.\r\n" << 3 << "2=other";
    QTest::newRow("refused") << "-ERR not supported\r\n" << 3 << "";
    QTest::newRow("huge count, few lines") << "+OK\r\n1 a\r\n.\r\n" << 2147483647 << "1=a";
}

void TestPop3Replies::uidl() {
    QFETCH(QString, answer);
    QFETCH(int, count);
    QFETCH(QString, expected);
    QCOMPARE(listed(pop3::ParseUidl(answer, count)), expected);
}

void TestPop3Replies::status_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("positive");
    QTest::newRow("bare") << "+OK\r\n" << true;
    QTest::newRow("with size") << "+OK 120 octets\r\nSubject: x\r\n\r\n.\r\n" << true;
    QTest::newRow("refused") << "-ERR no such message\r\n" << false;
    QTest::newRow("lower case") << "+ok\r\n" << false;
    QTest::newRow("leading blank") << " +OK\r\n" << false;
    QTest::newRow("empty") << "" << false;
}

void TestPop3Replies::status() {
    QFETCH(QString, answer);
    QFETCH(bool, positive);
    QCOMPARE(pop3::IsPositive(answer), positive);
}

void TestPop3Replies::batches_data() {
    QTest::addColumn<QByteArray>("capabilities");
    QTest::addColumn<bool>("offered");
    QTest::newRow("offered") << QByteArray("+OK\r\nTOP\r\nPIPELINING\r\nUIDL\r\n.\r\n") << true;
    QTest::newRow("bare lf, lower case") << QByteArray("+OK\npipelining\n.\n") << true;
    QTest::newRow("not offered") << QByteArray("+OK\r\nTOP\r\nUIDL\r\n.\r\n") << false;
    QTest::newRow("longer word") << QByteArray("+OK\r\nPIPELININGX\r\n.\r\n") << false;
    QTest::newRow("refused") << QByteArray("-ERR unknown command\r\n") << false;
}

void TestPop3Replies::batches() {
    QFETCH(QByteArray, capabilities);
    QFETCH(bool, offered);
    QCOMPARE(pop3::OffersBatches(capabilities), offered);
}

QTEST_APPLESS_MAIN(TestPop3Replies)
#include "test_pop3replies.moc"
