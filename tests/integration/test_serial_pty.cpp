// The serial port control on a pseudo-terminal pair: the test holds the
// master side (standing in for a modem), the control opens the slave
// through the COMn device mapping.

#include "ground/tessalyerror.h"
#include "platform/serialcontrol.h"
#include "tests/integration/peers.h"

#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace tessaly;
using namespace tessaly::testing;

namespace {
const QString kApp = QStringLiteral("Tessaly 1.1");
const QString kSection = QStringLiteral("Serial Ports");

int openError(SerialControl& port) {
    try {
        port.SetPortOpen(true);
    } catch (const TessalyError& e) {
        return e.number();
    }
    return 0;
}
} // namespace

class TestSerialPty : public QObject {
    Q_OBJECT
    RealEventPump pump_;
    int master_ = -1;
    QString slave_;
    QByteArray fromPort_;
    std::unique_ptr<QSocketNotifier> notifier_;

    void modemSays(const QByteArray& bytes) { QCOMPARE(::write(master_, bytes.constData(), bytes.size()), bytes.size()); }

private slots:
    void init() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master_ >= 0);
        QVERIFY(grantpt(master_) == 0 && unlockpt(master_) == 0);
        slave_ = QString::fromLocal8Bit(ptsname(master_));
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        fromPort_.clear();
        notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
            char buf[4096];
            ssize_t n;
            while ((n = ::read(master_, buf, sizeof buf)) > 0)
                fromPort_.append(buf, n);
        });
    }
    void cleanup() {
        notifier_.reset();
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    void modemExchange() {
        MemorySettingsStore store;
        store.write(kApp, kSection, QStringLiteral("COM3"), slave_);
        QtSerialControl port(store, kApp);
        QStringList terminal;
        connect(&port, &SerialControl::terminalLine, this, [&](const QString& t) { terminal << t; });
        QCOMPARE(port.DeviceFor(3), slave_);
        QCOMPARE(port.DeviceFor(1), QStringLiteral("/dev/ttyS0"));

        port.SetCommPort(3);
        port.SetSettings(QStringLiteral("1200,E,7,1"));
        port.SetFlowControl(0);
        port.SetDTREnable(true);
        QCOMPARE(openError(port), 0); // a pseudo-terminal opens even if it refuses some settings
        QVERIFY(port.PortOpen());
        // Linux pseudo-terminals refuse 7 data bits, parity and DTR; each
        // refusal is a line for the terminal window, naming the device.
        QVERIFY(!terminal.isEmpty());
        for (const QString& line : terminal)
            QVERIFY2(line.startsWith(slave_.mid(5) + QLatin1Char(':')) && line.contains(QLatin1String("not supported")),
                     qPrintable(line));
        // Changing the port while it is open is refused.
        QVERIFY_THROWS_EXCEPTION(TessalyError, port.SetCommPort(4));

        port.SetInBufferCount(0);
        port.SetOutput(QStringLiteral("AT\r"));
        port.SetOutput(QStringLiteral("ATDT5551234\r"));
        QVERIFY(pump_.waitUntil([&] { return fromPort_.size() >= 15; }, 5, nullptr));
        QCOMPARE(fromPort_, QByteArray("AT\rATDT5551234\r"));

        QCOMPARE(port.InBufferCount(), 0);
        modemSays("\r\nOK\r\n");
        QVERIFY(pump_.waitUntil([&] { return port.InBufferCount() >= 6; }, 5, nullptr));
        QCOMPARE(port.Input(), QStringLiteral("\r\nOK\r\n"));
        QCOMPARE(port.InBufferCount(), 0);
        QCOMPARE(port.Input(), QString());

        // Setting the count to 0 throws away what is waiting.
        modemSays("CONNECT 1200\r\n");
        QVERIFY(pump_.waitUntil([&] { return port.InBufferCount() >= 14; }, 5, nullptr));
        port.SetInBufferCount(0);
        QCOMPARE(port.InBufferCount(), 0);
        QCOMPARE(port.Input(), QString());
        modemSays("\x06");
        QVERIFY(pump_.waitUntil([&] { return port.InBufferCount() > 0; }, 5, nullptr));
        QCOMPARE(port.Input(), QStringLiteral("\x06"));

        port.SetPortOpen(false);
        QVERIFY(!port.PortOpen());
        port.SetInBufferCount(0); // allowed on a closed port
        QVERIFY_THROWS_EXCEPTION(TessalyError, port.Input());
    }

    void unavailablePorts() {
        QTemporaryDir dir;
        const QString file = dir.path() + QStringLiteral("/not-a-tty");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        MemorySettingsStore store;
        store.write(kApp, kSection, QStringLiteral("COM2"), dir.path() + QStringLiteral("/missing"));
        store.write(kApp, kSection, QStringLiteral("COM5"), file);
        QtSerialControl port(store, kApp);
        port.SetCommPort(2);
        QCOMPARE(openError(port), SerialControl::PortUnavailable);
        QVERIFY(!port.PortOpen());
        port.SetCommPort(5);
        QCOMPARE(openError(port), SerialControl::PortUnavailable);
        QVERIFY(!port.PortOpen());
        // A port that is open already.
        store.write(kApp, kSection, QStringLiteral("COM6"), slave_);
        QtSerialControl first(store, kApp);
        first.SetCommPort(6);
        QCOMPARE(openError(first), 0);
        QtSerialControl second(store, kApp);
        second.SetCommPort(6);
        QCOMPARE(openError(second), SerialControl::PortUnavailable);
        QVERIFY(!second.PortOpen());
        QVERIFY(first.PortOpen());
    }

    void settingsText() {
        const auto line = SerialControl::ParseSettings(QStringLiteral("1200,E,7,1"));
        QCOMPARE(line.baud, 1200);
        QCOMPARE(line.parity, 'E');
        QCOMPARE(line.dataBits, 7);
        QCOMPARE(line.stopBits, 1.0);
        for (const char* bad : {"1200,E,7", "fast,N,8,1", "9600,X,8,1", "9600,N,9,1", "9600,N,8,3"})
            QVERIFY_THROWS_EXCEPTION(TessalyError, SerialControl::ParseSettings(QString::fromLatin1(bad)));
    }
};

QTEST_GUILESS_MAIN(TestSerialPty)
#include "test_serial_pty.moc"
