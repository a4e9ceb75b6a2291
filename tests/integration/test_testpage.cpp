// The options dialog's "Test Page" end to end: for the two modem pager types
// through the real serial port control to the modem and paging terminal
// simulator on a pseudo-terminal, for the e-mail type to a real SMTP server
// (aiosmtpd) on 127.0.0.1.

#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "features/paging/manualpage.h"
#include "platform/bytelink.h"
#include "platform/serialcontrol.h"
#include "platform/settingsstore.h"
#include "platform/smtpcontrol.h"
#include "state/appinfo.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/pagingsetup.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/integration/modemsim.h"
#include "tests/integration/smtpsink.h"
#include "ui/options/frmoptions.h"

#include <QAbstractButton>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace tessaly;
using namespace tessaly::testing;

namespace {

// A headless program with the real serial control and mail-sending control.
struct Program {
    QTemporaryDir home;
    RealEventPump pump;
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    FakeSoundDevice sound;
    HeadlessMainView view{false};
    TcpLinkFactory links;
    std::unique_ptr<QtSerialControl> serial;
    std::unique_ptr<SmtpClient> smtp;
    std::unique_ptr<MainProgram> program;

    explicit Program(const QString& device) {
        store.write(kAppTitle, kSettingsSection, QStringLiteral("DefaultFile"), QString());
        store.write(kAppTitle, QStringLiteral("Serial Ports"), QStringLiteral("COM2"), device);
        serial = std::make_unique<QtSerialControl>(store, kAppTitle);
        smtp = std::make_unique<SmtpClient>(pump, links);
        program = std::make_unique<MainProgram>(PlatformServices{pump, prompter, store, sound, home.path(),
                                                                 QSize(15360, 11520), nullptr, serial.get(), nullptr,
                                                                 nullptr, nullptr, smtp.get()},
                                                view);
        program->Startup(QString());
        LiveSettings& s = program->Settings();
        s.connectionType = ConnDirect;
        s.retries = 0;
        CPagerService& service = program->Services().Item(1);
        setUpTapService(service, QStringLiteral("5551234"), 2, QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0"));
        service.SetMaxPageChar(80);
        service.SetDigitalDelay(2);
    }
    // Presses "Test Page" with the pager type and the one field it uses.
    void testPage(int type, const QString& field, const QString& value, const QString& from = {}) {
        FrmOptions d(program->OptionsServices(), program->ManualPageServices(), program->ModemServices());
        d.show();
        auto* option = d.findChild<QAbstractButton*>(QStringLiteral("optPagerType%1").arg(type));
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
        d.findChild<QLineEdit*>(field)->setText(value);
        if (!from.isEmpty())
            d.findChild<QLineEdit*>(QStringLiteral("txtPagerFrom"))->setText(from);
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cmdTestPage")), Qt::LeftButton);
        d.reject();
    }
};

} // namespace

class TestTestPage : public QObject {
    Q_OBJECT
private slots:
    void modemPagerTypes() {
        ModemSimulator sim;
        if (!sim.start({QStringLiteral("--busy"), QStringLiteral("5559999")}))
            QSKIP("python3 is needed for the modem simulator");
        Program p(sim.device());

        p.testPage(0, QStringLiteral("txtPagerID"), QStringLiteral("1234"));
        QCOMPARE(sim.goodBlocks(), QStringList{QStringLiteral("1234:") + manualpage::kTestText});
        QCOMPARE(p.prompter.messageTexts(), QStringList{manualpage::kTestConfirmation});
        QVERIFY(p.program->ActivityText().contains(QStringLiteral("Message #1 (1 of 1) sent successfully")));

        p.prompter.clear();
        p.testPage(2, QStringLiteral("txtNumericPhone"), QStringLiteral("5557777"));
        const QJsonArray pages = sim.summary().value(QStringLiteral("numeric_pages")).toArray();
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages[0].toObject().value(QStringLiteral("number")).toString(), QStringLiteral("5557777"));
        QCOMPARE(pages[0].toObject().value(QStringLiteral("digits")).toString(), QStringLiteral("01*2*1234#"));
        QCOMPARE(p.prompter.messageTexts(), QStringList{manualpage::kNumericTestConfirmation});
        QVERIFY(!p.serial->PortOpen());
        QCOMPARE(p.program->Queue().Count(), 0);

        // A busy paging service: no confirmation, the reason instead.
        p.prompter.clear();
        p.program->Services().Item(1).SetPhone(QStringLiteral("5559999"));
        p.testPage(0, QStringLiteral("txtPagerID"), QStringLiteral("1234"));
        QCOMPARE(sim.goodBlocks().size(), 1);
        QCOMPARE(p.prompter.messageTexts(),
                 QStringList{manualpage::kTestNotDelivered + QStringLiteral("\n\nPager: Busy")});
        QVERIFY(!p.serial->PortOpen());
    }

    void emailPagerType() {
        if (!SmtpSinkServer::available())
            QSKIP("python3-aiosmtpd is not installed (scripts/setup-deps.sh --tests)");
        SmtpSinkServer sink;
        Program p(QStringLiteral("/dev/null"));
        const quint16 port = freeLowPort();
        QVERIFY(port != 0);
        QVERIFY2(sink.start(p.pump, port), "the SMTP sink did not start listening");
        LiveSettings& s = p.program->Settings();
        s.smtpHostAddress = QStringLiteral("127.0.0.1");
        s.smtpPort = static_cast<std::int16_t>(sink.port());
        s.domainName = QStringLiteral("client.test");

        p.testPage(1, QStringLiteral("txtPagerEmail"), QStringLiteral("5551234@pager.test"),
                   QStringLiteral("me@client.test"));
        const QList<QJsonObject> got = sink.received();
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0][QStringLiteral("mail_from")].toString(), QStringLiteral("me@client.test"));
        QCOMPARE(got[0][QStringLiteral("rcpt_tos")].toArray(), QJsonArray{QStringLiteral("5551234@pager.test")});
        const QString data = got[0][QStringLiteral("data")].toString();
        QVERIFY(data.split(QStringLiteral("\r\n")).contains(QStringLiteral("Subject: test")));
        QVERIFY(data.contains(manualpage::kTestText));
        QCOMPARE(p.prompter.messageTexts(), QStringList{manualpage::kTestConfirmation});
        sink.stop();
    }
};

QTEST_MAIN(TestTestPage)
#include "test_testpage.moc"
