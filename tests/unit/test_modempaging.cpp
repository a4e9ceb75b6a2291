// Modem routines, the alphanumeric protocol, numeric pages and the page
// queue, against a scripted modem and paging terminal in virtual time.

#include "state/commstatus.h"
#include "state/livesettings.h"
#include "features/paging/comm.h"
#include "features/paging/cpagermessage.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/pagestate.h"
#include "features/paging/pagingcontext.h"
#include "state/terminal.h"
#include "ground/printableascii.h"
#include "ground/tessalyerror.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakeserial.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"

#include "tests/fakes/pagingsetup.h"

#include <QtTest>

using namespace tessaly;

namespace {

const QByteArray OK = "\r\nOK\r\n";

// A Hayes modem with a paging terminal behind it. The terminal shows its
// "ID=" prompt after `crsBeforeId` CRs (0: by itself, right after CONNECT).
class TapModem : public FakeSerialControl {
public:
    explicit TapModem(VirtualEventPump& pump) : FakeSerialControl(pump), pump_(pump) {
        answer(QStringLiteral("^AT$"), OK);
        answer(QStringLiteral("^AT&F"), OK, 0.3);
        answer(QStringLiteral("ATDT555BUSY"), "\r\nBUSY\r\n", 3);
        answer(QStringLiteral("ATDT555NODT"), "\r\nNO DIALTONE\r\n", 2);
        answer(QStringLiteral("ATDT555SILENT"), "", 0);
        answer(QStringLiteral("^ATD[TP]555"), "\r\nCONNECT 1200\r\n", 2);
        answer(QStringLiteral("^\\x1bPG1"), "\r\x06\r\x1b[p\r", 0.5);
        answer(QStringLiteral("^\\x03"), "\x06\r", 0.4);
        answer(QStringLiteral("^\\x04$"), "\x1b\x04\r", 0.2);
        answer(QStringLiteral("ATH0$"), OK, 0.2);
    }
    void SetOutput(const QString& text) override {
        // A device that has gone away fails every write.
        if (vanishAfterFrames >= 0 && written.count('\x03') >= vanishAfterFrames)
            vanished = true;
        if (vanished)
            throw TessalyError(8018, QStringLiteral("Operation valid only when the port is open"));
        const bool online = PortOpen();
        FakeSerialControl::SetOutput(text);
        if (text.contains(QLatin1String("ATD")) && crsBeforeId == 0 && !text.contains(QLatin1String("BUSY")))
            inject("ID=", 2.6);
        if (online && text == QLatin1String("\r")) {
            ++crs;
            if (!noCarrierAt.isEmpty() && crs == noCarrierAt.first()) {
                noCarrierAt.removeFirst();
                crs = 0;
                inject("\r\nNO CARRIER\r\n", 0.2);
            } else if (crs == crsBeforeId) {
                crs = 0;
                inject("ID=", 0.3);
            }
        }
    }
    int crsBeforeId = 1;
    int crs = 0;
    int vanishAfterFrames = -1;
    bool vanished = false;
    QList<int> noCarrierAt; // the CR counts that get NO CARRIER, one call each

private:
    VirtualEventPump& pump_;
};

struct Rig : PagingRig {
    TapModem port{pump};
    CPagerService service;

    Rig() {
        // Wired as the program wires its port.
        QObject::connect(&port, &SerialControl::deviceFault, [this](const QString& line) { log << line; });
        QObject::connect(&port, &SerialControl::terminalLine, [this](const QString& line) { terminal.Append(line + QLatin1Char('\r')); });
        settings.retries = 3;
        settings.retryWait = 30;
        service.SetName(QStringLiteral("Default"));
        setUpTapService(service, QStringLiteral("5551234"), 2, QStringLiteral("AT&F"));
        service.SetMaxPageChar(80);
    }
    // Replaces the terminal's answer to every block.
    void blockAnswer(const QByteArray& reply) {
        port.rules.removeIf([](const FakeSerialControl::Rule& rule) { return rule.command.pattern() == QLatin1String("^\\x03"); });
        port.answer(QStringLiteral("^\\x03"), reply, 0.4);
    }
    // What went to the modem after the dial command.
    QByteArray afterDial() const { return port.written.mid(port.written.lastIndexOf("ATDT")); }
    void cancelAt(double seconds) {
        pump.schedule(seconds, [this] { cancel = true; });
    }
};

} // namespace

class TestModemPaging : public QObject {
    Q_OBJECT
private slots:
    void framesAndChecksums() {
        QCOMPARE(CPagerService::Frame(QStringLiteral("1234"), QStringLiteral("HELLO")),
                 QByteArray("\x02" "1234\rHELLO\r\x03" "25=\r"));
        QCOMPARE(CPagerService::Checksum(QByteArray(1242, '\x01')), QByteArray("4=:"));
        QCOMPARE(CPagerService::Checksum("\x02\x03"), QByteArray("005"));
        // Only the low 12 bits count.
        QCOMPARE(CPagerService::Checksum(QByteArray(4096 + 17, '\x01')), QByteArray("011"));
        // The frame and its checksum hold only the 7-bit bytes that are sent.
        const QByteArray mapped = CPagerService::Frame(QStringLiteral("12\u00b3"), QStringLiteral("caf\u00e9\x03 \u00df"));
        QCOMPARE(mapped, CPagerService::Frame(QStringLiteral("123"), QStringLiteral("cafe? ss")));
    }

    void printableAscii_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sent");
        QTest::newRow("plain") << "From: ann|Subject: lunch? ~{}" << "From: ann|Subject: lunch? ~{}";
        QTest::newRow("accents") << "caf\u00e9 cr\u00e8me br\u00fbl\u00e9e \u00c7A \u00f1" << "cafe creme brulee CA n";
        QTest::newRow("two letters") << "Stra\u00dfe \u00c6sop \u0152uvre \u00fe" << "Strasse AEsop OEuvre th";
        QTest::newRow("one letter") << "\u00f8 \u0142 \u0111 \u0131" << "o l d i";
        QTest::newRow("controls") << "a\x03" "b\x1b" "c\x7f" "d\x02" << "a?b?c?d?";
        QTest::newRow("line breaks") << "tab\there\r\nnext\u00a0x\u2028y" << "tab here  next x y";
        QTest::newRow("typography") << "\u201cquoted\u201d \u2013 it\u2019s\u2026" << "\"quoted\" - it's...";
        QTest::newRow("compatibility") << "\ufb01le \u2122 \u00bd \uff21" << "file TM 1/2 A";
        QTest::newRow("other scripts") << "\u0395\u03bb\u03bb\u03ac\u03b4\u03b1 \u4e2d" << "?????? ?";
        QTest::newRow("emoji, one ? each") << QString::fromUtf8("ok \xf0\x9f\x98\x80!") << "ok ?!";
        QTest::newRow("signs") << "\u00a9\u00b0\u00a4\u20ac" << "????";
    }
    void printableAscii() {
        QFETCH(QString, text);
        QFETCH(QString, sent);
        QCOMPARE(toPrintableAscii(text), sent);
        QCOMPARE(toPrintableAscii(sent), sent);
    }

    void logonWithPromptOnFirstWait() {
        Rig r;
        r.port.crsBeforeId = 0;
        QVERIFY(r.service.Logon(r.ctx, r.port));
        QCOMPARE(r.port.openedWith, QStringList{QStringLiteral("1200,E,7,1")});
        QVERIFY(r.port.written.startsWith("AT\rAT&F M0 L2\rATDT5551234\r"));
        // No CR between the dial and the logon string.
        QCOMPARE(r.afterDial(), QByteArray("ATDT5551234\r\x1bPG1\r"));
        QVERIFY(r.port.PortOpen());
        QCOMPARE(r.status.StatusLine(), QStringLiteral("Logging On"));
        QVERIFY(r.log.isEmpty());
        QVERIFY(r.terminal.Text().contains(QStringLiteral("-->ATDT5551234\r\n")));
    }

    void logonAfterTwoCrsAndSendTwoBlocks() {
        Rig r;
        r.port.crsBeforeId = 2;
        r.service.SetTerminalPassword(QStringLiteral("secret"));
        r.service.SetMaxPageChar(5);
        QVERIFY(r.service.Logon(r.ctx, r.port));
        QCOMPARE(r.afterDial(), QByteArray("ATDT5551234\r\r\r\x1bPG1secret\r"));
        // The transcript shows the logon, not the password.
        QVERIFY(r.terminal.Text().contains(QStringLiteral("-->\x1bPG1****")));
        QVERIFY(!r.terminal.Text().contains(QStringLiteral("secret")));
        QStringList statuses;
        r.service.SendTo(r.ctx, r.port, QStringLiteral("1234"), QStringLiteral("HELLOWORLD"), 1);
        QCOMPARE(r.service.ResultState(), pagestate::OK);
        QCOMPARE(r.log, (QStringList{"Message #1 (1 of 2) sent successfully", "Message #1 (2 of 2) sent successfully"}));
        QVERIFY(r.port.written.contains(CPagerService::Frame(QStringLiteral("1234"), QStringLiteral("HELLO"))));
        QVERIFY(r.port.written.contains(CPagerService::Frame(QStringLiteral("1234"), QStringLiteral("WORLD"))));
        QCOMPARE(r.status.StatusLine(), QStringLiteral("Message #1 sent successfully"));
        r.service.Logoff(r.ctx, r.port);
        QVERIFY(!r.port.PortOpen());
        QVERIFY(r.port.written.endsWith("\x04\r+++ATH0\r"));
    }

    void refusedAndOversizedBlocks() {
        Rig r;
        r.service.SetMaxPageChar(5);
        QVERIFY(r.service.Logon(r.ctx, r.port));
        r.blockAnswer("\x15\r"); // NAK is not ACK
        const double t0 = r.pump.elapsedSeconds();
        r.service.SendTo(r.ctx, r.port, QStringLiteral("1234"), QStringLiteral("HELLOWORLD"), 3);
        QCOMPARE(r.service.ResultState(), pagestate::NotAcknowledged);
        QVERIFY(r.pump.elapsedSeconds() - t0 >= 10); // waited out 10 s of silence
        QCOMPARE(r.status.StatusLine(), QStringLiteral("Sending Message #3 (1 of 2)"));
        // One line names the refused block; the second block is not sent.
        QCOMPARE(r.log, QStringList{QStringLiteral("Message #3 (1 of 2) was not acknowledged by the paging service")});
        QCOMPARE(r.port.written.count('\x02'), 1);

        // A block too long for one frame is cut to fit and sent.
        r.log.clear();
        r.blockAnswer("\x06\r");
        r.service.SetMaxPageChar(250);
        r.service.SendTo(r.ctx, r.port, QString(10, QLatin1Char('9')), QString(250, QLatin1Char('x')), 1);
        QCOMPARE(r.service.ResultState(), pagestate::OK);
        QCOMPARE(r.log, (QStringList{"Message #1 (1 of 1) cut from 250 to 238 characters to fit one block",
                                     "Message #1 (1 of 1) sent successfully"}));
        const QByteArray last = r.port.written.mid(r.port.written.lastIndexOf('\x02'));
        QCOMPARE(last.size(), 256);
        QCOMPARE(last, CPagerService::Frame(QString(10, QLatin1Char('9')), QString(238, QLatin1Char('x'))));

        // A pager ID that leaves no room for text: nothing goes out.
        r.log.clear();
        const QByteArray before = r.port.written;
        r.service.SendTo(r.ctx, r.port, QString(248, QLatin1Char('9')), QStringLiteral("x"), 2);
        QCOMPARE(r.service.ResultState(), pagestate::FrameTooLong);
        QCOMPARE(r.log, QStringList{QStringLiteral("Message #2 (1 of 1) not sent: the pager ID leaves no room in a block")});
        QCOMPARE(r.port.written, before);
        QVERIFY(r.port.PortOpen()); // SendTo never hangs up
    }

    void hangUpEndsTheWaitAtOnce() {
        Rig r;
        QVERIFY(r.service.Logon(r.ctx, r.port));
        r.blockAnswer(""); // the terminal stays silent, so only the hang-up ends the wait
        const double t0 = r.pump.elapsedSeconds();
        r.port.hangUp(1.5);
        r.service.SendTo(r.ctx, r.port, QStringLiteral("1234"), QStringLiteral("first"), 1);
        QCOMPARE(r.service.ResultState(), pagestate::LineLost);
        QCOMPARE(r.pump.elapsedSeconds() - t0, 1.5);
        const QString lost = QStringLiteral("COM2 closed: the device /dev/fake hung up or went away (hang-up)");
        QCOMPARE(r.log, (QStringList{lost, "Message #1 (1 of 1) not acknowledged: the modem line was lost"}));
        QVERIFY(r.terminal.Text().contains(lost));

        // The next page of the call is not delivered either, and logoff goes quietly.
        r.log.clear();
        const QByteArray before = r.port.written;
        r.service.SendTo(r.ctx, r.port, QStringLiteral("1234"), QStringLiteral("second"), 2);
        QCOMPARE(r.service.ResultState(), pagestate::LineLost);
        QCOMPARE(r.log, QStringList{QStringLiteral("Message #2 (1 of 1) not sent: the modem line was lost")});
        r.service.Logoff(r.ctx, r.port);
        QCOMPARE(r.port.written, before);

        // While dialling: the attempt ends at the hang-up, not after 60 s.
        Rig d;
        d.settings.retries = 0;
        d.service.SetPhone(QStringLiteral("555SILENT"));
        d.port.hangUp(10);
        QVERIFY(!d.service.Logon(d.ctx, d.port));
        QCOMPARE(d.service.ResultState(), pagestate::LineLost);
        QCOMPARE(d.log.last(), QStringLiteral("Pager: Modem line lost"));
        QVERIFY(d.pump.elapsedSeconds() < 11);
    }

    // The program writes a device's hang-up to its activity log and terminal.
    void programLogsDeviceFaults() {
        ProgramRig rig;
        FakeSerialControl port(rig.pump);
        RigControls controls;
        controls.serial = &port;
        rig.startWithoutProfile(controls);
        port.SetPortOpen(true);
        port.hangUp(1);
        rig.pump.advance(2);
        QVERIFY(!port.PortOpen());
        const QString lost = QStringLiteral("COM1 closed: the device /dev/fake hung up or went away (hang-up)");
        QVERIFY2(rig.activity().contains(lost), qPrintable(rig.activity()));
        QVERIFY(rig.program->GetTerminal().Text().contains(lost));
    }

    // Every failure answer after the dial ends that attempt at once, with its
    // own activity line, for a paging service and a numeric pager alike.
    void dialAnswersEndTheAttempt_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no carrier") << QByteArray("\r\nNO CARRIER\r\n") << int(pagestate::NoCarrier) << "No Carrier";
        QTest::newRow("no answer") << QByteArray("\r\nNO ANSWER\r\n") << int(pagestate::NoAnswer) << "No Answer";
        QTest::newRow("no dialtone") << QByteArray("\r\nNO DIALTONE\r\n") << int(pagestate::NoDialTone) << "No Dialtone";
        QTest::newRow("error") << QByteArray("\r\nERROR\r\n") << int(pagestate::DialError) << "Modem Error";
        QTest::newRow("busy") << QByteArray("\r\nBUSY\r\n") << int(pagestate::Busy) << "Busy";
        QTest::newRow("5001 characters of noise") << QByteArray(5001, '~') << int(pagestate::LineNoise) << "Line Noise";
    }
    void dialAnswersEndTheAttempt() {
        QFETCH(QByteArray, answer);
        QFETCH(int, state);
        QFETCH(QString, reason);
        const bool noise = answer.size() > 5000;
        Rig r;
        r.settings.retries = 0;
        r.port.rules.prepend({QRegularExpression(QStringLiteral("^ATDT555FAIL")), answer, 2});
        r.service.SetPhone(QStringLiteral("555FAIL"));
        QVERIFY(!r.service.Logon(r.ctx, r.port));
        QCOMPARE(int(r.service.ResultState()), state);
        QCOMPARE(r.log, QStringList{QStringLiteral("Pager: ") + reason});
        QVERIFY(r.pump.elapsedSeconds() < 15); // init, dial, answer, hang-up: not 60 s
        QCOMPARE(r.prompter.messageTexts().size(), noise ? 1 : 0);

        Rig n;
        n.settings.retries = 0;
        n.port.rules.prepend({QRegularExpression(QStringLiteral("^ATDT555FAIL")), answer, 2});
        n.service.SetDigitalDelay(20);
        n.service.SendDigitalPage(n.ctx, n.port, QStringLiteral("555FAIL"), QStringLiteral("1#"));
        QCOMPARE(int(n.service.ResultState()), state);
        QCOMPARE(n.log, QStringList{QStringLiteral("Digital Pager: ") + reason});
        QVERIFY(n.status.StatusLine() != QStringLiteral("Page Sent"));
    }

    void noCarrierThenRetry() {
        Rig r;
        r.port.crsBeforeId = 3;
        r.port.noCarrierAt = {2};
        const double t0 = r.pump.elapsedSeconds();
        QVERIFY(r.service.Logon(r.ctx, r.port));
        QCOMPARE(r.log, QStringList{QStringLiteral("Pager: Could not connect w/ Service")});
        QCOMPARE(r.port.openedWith.size(), 2); // hung up, then a second call
        QVERIFY(r.pump.elapsedSeconds() - t0 > 30); // the retry wait
        QVERIFY(r.terminal.Text().contains(QStringLiteral("+++")));
    }

    void failuresAndRetries() {
        {   // Busy with retries 0: exactly one attempt.
            Rig r;
            r.settings.retries = 0;
            r.service.SetPhone(QStringLiteral("555BUSY"));
            QVERIFY(!r.service.Logon(r.ctx, r.port));
            QCOMPARE(r.log, QStringList{QStringLiteral("Pager: Busy")});
            QCOMPARE(r.service.ResultState(), pagestate::Busy);
            QVERIFY(!r.port.PortOpen());
        }
        {   // No dial tone, every attempt.
            Rig r;
            r.settings.retries = 2;
            r.service.SetPhone(QStringLiteral("555NODT"));
            QVERIFY(!r.service.Logon(r.ctx, r.port));
            QCOMPARE(r.log, QStringList(3, QStringLiteral("Pager: No Dialtone")));
        }
        {   // No answer for 60 s after dialling; no ID prompt; no go-ahead.
            Rig r;
            r.settings.retries = 0;
            r.service.SetPhone(QStringLiteral("555SILENT"));
            QVERIFY(!r.service.Logon(r.ctx, r.port));
            QCOMPARE(r.log, QStringList{QStringLiteral("Pager: Could not connect w/ Service")});

            Rig s;
            s.settings.retries = 0;
            s.port.crsBeforeId = 99;
            QVERIFY(!s.service.Logon(s.ctx, s.port));
            QCOMPARE(s.log, QStringList{QStringLiteral("Pager: Unable to logon.")});
            const QByteArray exchange = s.afterDial();
            QCOMPARE(exchange.left(exchange.indexOf("+++")).count('\r'), 1 + 6); // the dial, then six CRs

            Rig t;
            t.settings.retries = 0;
            t.port.rules.removeIf([](const FakeSerialControl::Rule& rule) { return rule.command.pattern().contains(QLatin1String("PG1")); });
            QVERIFY(!t.service.Logon(t.ctx, t.port));
            QCOMPARE(t.log, QStringList{QStringLiteral("Pager: Logon was not accepted.")});
        }
        {   // A modem that refuses the initialisation command.
            Rig r;
            r.settings.retries = 0;
            r.port.rules.removeIf([](const FakeSerialControl::Rule& rule) { return rule.command.pattern() == QLatin1String("^AT&F"); });
            r.port.answer(QStringLiteral("^AT&F"), "\r\nERROR\r\n", 0.3);
            const double t0 = r.pump.elapsedSeconds();
            QCOMPARE(r.comm.InitModem(r.port, QStringLiteral("AT&F")), pagestate::InitFailed);
            QVERIFY(r.pump.elapsedSeconds() - t0 >= 12); // 1 s pauses and 10 s of silence
        }
        {   // Port unavailable: state 9, nothing to hang up; port in use: left alone.
            Rig r;
            r.port.availablePorts = {1};
            QVERIFY(!r.service.Logon(r.ctx, r.port));
            QCOMPARE(r.log, QStringList{QStringLiteral("Comm Port Unavailable")});
            QCOMPARE(r.service.ResultState(), pagestate::PortUnavailable);

            Rig b;
            b.port.SetCommPort(2);
            b.port.SetPortOpen(true);
            QVERIFY(!b.service.Logon(b.ctx, b.port));
            QCOMPARE(b.log, QStringList{QStringLiteral("Comm Port is already in use...")});
            QVERIFY(b.port.PortOpen());
            QVERIFY(b.port.written.isEmpty());
        }
    }

    void cancelInEachWait() {
        // Times (virtual seconds from the start) inside: the init wait, the
        // pause before dialling, the dial wait, the ID wait, the go-ahead wait.
        for (double at : {0.5, 2.8, 4.5, 7.2, 8.6}) {
            Rig r;
            r.port.crsBeforeId = 2;
            r.cancelAt(at);
            QVERIFY2(!r.service.Logon(r.ctx, r.port), qPrintable(QString::number(at)));
            QCOMPARE(r.log, QStringList{QStringLiteral("Pager: User Cancelled")});
            QCOMPARE(r.service.ResultState(), pagestate::Cancelled);
            QVERIFY(!r.port.PortOpen());
            QVERIFY(r.pump.elapsedSeconds() < 20); // no second attempt
        }
    }

    void waitsCountSilenceAndStopAtTheLimit() {
        Rig r;
        r.port.SetCommPort(1);
        r.port.SetPortOpen(true);
        // A trickle every 5 s keeps a 10 s wait alive.
        for (int i = 1; i <= 10; ++i)
            r.port.inject("x", 5.0 * i);
        r.port.inject("DONE", 53);
        QString reply;
        bool found = false;
        r.comm.WaitForText(r.port, QStringLiteral("DONE"), 10, found, reply);
        QVERIFY(found);
        QCOMPARE(r.pump.elapsedSeconds(), 53.0);

        // More than 5000 characters end the wait with a message.
        r.port.inject(QByteArray(3000, 'a'), 1);
        r.port.inject(QByteArray(3000, 'b'), 2);
        reply.clear();
        r.comm.WaitForText(r.port, QStringLiteral("never"), 10, found, reply);
        QVERIFY(!found);
        QCOMPARE(r.prompter.messageTexts(), QStringList{QStringLiteral("COMM input exceeded 5000 char")});

        // Hanging up a closed port only empties the buffer.
        Rig c;
        c.comm.HangUp(c.port);
        QVERIFY(c.port.written.isEmpty());
        QCOMPARE(c.pump.elapsedSeconds(), 0.0);
    }

    void numericPages() {
        Rig r;
        r.port.answer(QStringLiteral("^ATDT5551234,,,,111\\*3#$"), "", 0);
        r.service.SetDigitalDelay(8);
        const double t0 = r.pump.elapsedSeconds();
        r.service.SendDigitalPage(r.ctx, r.port, QStringLiteral("5551234"), QStringLiteral("111*3#"));
        QVERIFY(r.port.written.contains("ATDT5551234,,,,111*3#\r"));
        QCOMPARE(r.log, QStringList{QStringLiteral("Digital Pager: Message Sent")});
        QCOMPARE(r.service.ResultState(), pagestate::OK);
        QVERIFY(!r.port.PortOpen());
        // Init (about 2.3 s) + 5 s + 8 s listening + 5 s before hanging up + the hang-up.
        QVERIFY(r.pump.elapsedSeconds() - t0 >= 20);

        // Pulse dialling; 5 s gives two commas, 7 s four (halves to even).
        Rig p;
        p.settings.dialTypeIndex = 1;
        p.service.SetDigitalDelay(5);
        p.service.SendDigitalPage(p.ctx, p.port, QStringLiteral("5551234"), QStringLiteral("9#"));
        QVERIFY(p.port.written.contains("ATDP5551234,,9#\r"));
        Rig q;
        q.service.SetDigitalDelay(7);
        q.service.SendDigitalPage(q.ctx, q.port, QStringLiteral("5551234"), QStringLiteral("9#"));
        QVERIFY(q.port.written.contains("ATDT5551234,,,,9#\r"));

        // Busy: a retry after the wait, with the same commas.
        Rig b;
        b.settings.retries = 1;
        b.service.SetDigitalDelay(8);
        b.service.SendDigitalPage(b.ctx, b.port, QStringLiteral("555BUSY"), QStringLiteral("1#"));
        QCOMPARE(b.log, (QStringList{"Digital Pager: Busy", "Digital Pager: Busy"}));
        QCOMPARE(b.port.written.count("ATDT555BUSY,,,,1#\r"), 2);
        QVERIFY(!b.port.PortOpen());

        // Cancel while listening: no "Page Sent", no further attempt.
        Rig c;
        c.service.SetDigitalDelay(8);
        c.cancelAt(10);
        c.service.SendDigitalPage(c.ctx, c.port, QStringLiteral("5551234"), QStringLiteral("1#"));
        QCOMPARE(c.log, QStringList{QStringLiteral("Digital Pager: User Cancelled")});
        QVERIFY(c.status.StatusLine() != QStringLiteral("Page Sent"));
        QCOMPARE(c.port.written.count("ATDT"), 1);
    }

    void queueOrders() {
        Rig r;
        CPagerService other = r.service;
        other.SetName(QStringLiteral("B"));
        other.SetPhone(QStringLiteral("5559999"));
        auto lookup = [&](const QString& name) -> CPagerService& {
            if (name == QLatin1String("A"))
                return r.service;
            if (name == QLatin1String("B"))
                return other;
            throw TessalyError(5, QStringLiteral("Invalid procedure call or argument"));
        };
        QStringList mails;
        auto smtp = [&](CPagerService& s, const QString& to, const QString& text, const QString&, const QString&, int n) {
            mails << QStringLiteral("%1 %2 %3 #%4").arg(s.Name(), to, text).arg(n);
        };
        MessageQueue q;
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("one"), false, PagerAlphaDialUp);
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("two"), false, PagerAlphaDialUp);
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("three"), false, PagerAlphaDialUp);
        q.Add(QStringLiteral("B"), QStringLiteral("22"), QStringLiteral("four"), false, PagerAlphaDialUp);
        q.Add(QStringLiteral("A"), QStringLiteral("33"), QStringLiteral("skipped"), false, static_cast<PagerType>(5));
        q.SendQueue(r.ctx, lookup, r.port, smtp);
        QCOMPARE(q.Count(), 0);
        QCOMPARE(r.port.written.count("ATDT5551234\r"), 1);
        QCOMPARE(r.port.written.count("ATDT5559999\r"), 1);
        QCOMPARE(r.port.written.count("\x04\r"), 2); // two logoffs
        QCOMPARE(r.log, (QStringList{"Message #1 (1 of 1) sent successfully", "Message #2 (1 of 1) sent successfully",
                                     "Message #3 (1 of 1) sent successfully", "Message #4 (1 of 1) sent successfully"}));
        const QByteArray w = r.port.written;
        QVERIFY(w.indexOf("ATDT5559999") > w.indexOf("\x04\r")); // B is dialled after A's logoff
        QVERIFY(!w.contains("skipped"));
        QVERIFY(!r.port.PortOpen());

        // A, e-mail, A: the e-mail page ends the call, A is called again.
        Rig e;
        auto lookupE = [&](const QString&) -> CPagerService& { return e.service; };
        mails.clear();
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("one"), false, PagerAlphaDialUp);
        q.Add(QStringLiteral("A"), QStringLiteral("pager@x"), QStringLiteral("mail"), false, PagerAlphaSMTP);
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("three"), false, PagerAlphaDialUp);
        q.SendQueue(e.ctx, lookupE, e.port, smtp);
        QCOMPARE(mails, QStringList{QStringLiteral("Default pager@x mail #2")});
        QCOMPARE(e.port.written.count("ATDT5551234\r"), 2);
        QCOMPARE(e.port.written.count("\x04\r"), 2);

        // A failed logon ends the walk and the queue is empty all the same.
        Rig f;
        f.settings.retries = 0;
        f.service.SetPhone(QStringLiteral("555BUSY"));
        auto lookupF = [&](const QString&) -> CPagerService& { return f.service; };
        mails.clear();
        for (int i = 0; i < 5; ++i)
            q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("x"), false, i == 2 ? PagerAlphaSMTP : PagerAlphaDialUp);
        q.SendQueue(f.ctx, lookupF, f.port, smtp);
        QCOMPARE(q.Count(), 0);
        QVERIFY(mails.isEmpty());
        QCOMPARE(f.log, QStringList{QStringLiteral("Pager: Busy")});

        // A numeric page first: no logoff before it.
        Rig n;
        auto lookupN = [&](const QString&) -> CPagerService& { return n.service; };
        n.service.SetDigitalDelay(2);
        q.Add(QStringLiteral("A"), QStringLiteral("5551234"), QStringLiteral("1#"), false, PagerNumeric);
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("text"), false, PagerAlphaDialUp);
        q.SendQueue(n.ctx, lookupN, n.port, smtp);
        QVERIFY(n.port.written.indexOf("\x04") > n.port.written.indexOf("ATDT5551234,1#"));
        QCOMPARE(n.port.written.count("\x04\r"), 1);
    }

    void unknownServiceStopsWithoutResending() {
        Rig r;
        auto lookup = [&](const QString& name) -> CPagerService& {
            if (name == QLatin1String("A"))
                return r.service;
            throw TessalyError(5, QStringLiteral("Invalid procedure call or argument"));
        };
        MessageQueue q;
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("sent"), false, PagerAlphaDialUp);
        q.Add(QStringLiteral("Gone"), QStringLiteral("11"), QStringLiteral("never"), false, PagerAlphaDialUp);
        QVERIFY_THROWS_EXCEPTION(TessalyError, q.SendQueue(r.ctx, lookup, r.port, {}));
        // The open call was ended, the port closed and nothing is left to send twice.
        QCOMPARE(q.Count(), 0);
        QVERIFY(!r.port.PortOpen());
        QCOMPARE(r.port.written.count("sent"), 1);
        // An empty queue only closes the status window.
        r.port.written.clear();
        q.SendQueue(r.ctx, lookup, r.port, {});
        QVERIFY(r.port.written.isEmpty());
    }

    // Every page's outcome is told, also of the pages an error left unsent.
    void queueTellsEachPageOutcome() {
        Rig r;
        auto lookup = [&](const QString& name) -> CPagerService& {
            if (name == QLatin1String("A"))
                return r.service;
            throw TessalyError(5, QStringLiteral("Invalid procedure call or argument"));
        };
        QList<bool> told;
        auto record = [&](int position, bool delivered) {
            QCOMPARE(position, told.size() + 1);
            told << delivered;
        };
        MessageQueue q;
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("sent"), false, PagerAlphaDialUp);
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("odd type"), false, static_cast<PagerType>(5));
        q.Add(QStringLiteral("A"), QStringLiteral("x@y"), QStringLiteral("no mail control"), false, PagerAlphaSMTP);
        q.Add(QStringLiteral("Gone"), QStringLiteral("11"), QStringLiteral("never"), false, PagerAlphaDialUp);
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("after the error"), false, PagerAlphaDialUp);
        QVERIFY_THROWS_EXCEPTION(TessalyError, q.SendQueue(r.ctx, lookup, r.port, {}, record));
        QCOMPARE(told, (QList<bool>{true, false, false, false, false}));
    }

    void lineGarbageAndADeviceThatVanishes() {
        Rig r;
        r.port.crsBeforeId = 0;
        r.port.rules.prepend({QRegularExpression(QStringLiteral("^ATDT")),
                              QByteArray("\0\xff\x01garbage\0\r\nCONNECT 1200\r\n", 28), 2});
        r.port.vanishAfterFrames = 1; // gone after the first page
        auto lookup = [&](const QString&) -> CPagerService& { return r.service; };
        MessageQueue q;
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("first"), false, PagerAlphaDialUp);
        q.Add(QStringLiteral("A"), QStringLiteral("11"), QStringLiteral("second"), false, PagerAlphaDialUp);
        // Garbage and NUL bytes before CONNECT do not disturb the dial; the
        // failing device reaches the caller as an error after the clean-up.
        QVERIFY_THROWS_EXCEPTION(TessalyError, q.SendQueue(r.ctx, lookup, r.port, {}));
        QCOMPARE(r.log, QStringList{QStringLiteral("Message #1 (1 of 1) sent successfully")});
        QCOMPARE(q.Count(), 0);
        QVERIFY(!r.port.PortOpen());
        QVERIFY(r.terminal.Text().contains(QStringLiteral("garbage")));
    }
};

QTEST_GUILESS_MAIN(TestModemPaging)
#include "test_modempaging.moc"
