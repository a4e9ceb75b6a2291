#include "platform/serialcontrol.h"

#include "ground/tessalyerror.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <termios.h>

namespace tessaly {

namespace {

[[noreturn]] void raise(int number, const QString& text) { throw TessalyError(number, text); }

[[noreturn]] void notOpen() {
    raise(SerialControl::PortNotOpen, QStringLiteral("Operation valid only when the port is open"));
}

} // namespace

SerialControl::LineSettings SerialControl::ParseSettings(const QString& settings) {
    const QStringList parts = settings.split(QLatin1Char(','));
    LineSettings line;
    bool ok = parts.size() == 4;
    if (ok) {
        bool n1 = false, n2 = false, n3 = false;
        line.baud = parts[0].trimmed().toInt(&n1);
        const QString parity = parts[1].trimmed().toUpper();
        line.parity = parity.size() == 1 ? parity[0].toLatin1() : '?';
        line.dataBits = parts[2].trimmed().toInt(&n2);
        line.stopBits = parts[3].trimmed().toDouble(&n3);
        ok = n1 && n2 && n3 && line.baud > 0 && QByteArrayView("NEOMS").contains(line.parity) && line.dataBits >= 4 &&
             line.dataBits <= 8 && (line.stopBits == 1 || line.stopBits == 1.5 || line.stopBits == 2);
    }
    if (!ok)
        raise(InvalidPropertyValue, QStringLiteral("Invalid property value"));
    return line;
}

void SerialControl::SetCommPort(int port) {
    if (PortOpen())
        raise(PortAlreadyOpen, QStringLiteral("Port already open"));
    if (port < 0 || port > 16)
        raise(InvalidPortNumber, QStringLiteral("Invalid port number"));
    commPort_ = port;
}

void SerialControl::SetSettings(const QString& settings) {
    ParseSettings(settings);
    settings_ = settings;
    if (PortOpen())
        applyLine();
}

void SerialControl::SetFlowControl(int mode) {
    if (mode < 0 || mode > 3)
        raise(InvalidPropertyValue, QStringLiteral("Invalid property value"));
    flowControl_ = mode;
    if (PortOpen())
        applyFlow();
}

void SerialControl::reportLineLost(const QString& device, const QString& reason) {
    // A line that does not dial has no COM port to name; `device` is where it leads.
    const QString line =
        Dials() ? QStringLiteral("COM%1 closed: the device %2 hung up or went away (%3)")
                      .arg(CommPort())
                      .arg(device, reason)
                : QStringLiteral("%1 closed: the paging terminal hung up or went away (%2)").arg(device, reason);
    emit terminalLine(line);
    emit deviceFault(line);
}

void SerialControl::SetDTREnable(bool on) {
    dtrEnable_ = on;
    if (PortOpen())
        applyDtr();
}

QtSerialControl::QtSerialControl(const SettingsStore& store, QString app, QObject* parent)
    : store_(store), app_(std::move(app)) {
    setParent(parent);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialControl::portError);
}

QtSerialControl::~QtSerialControl() {
    if (port_.isOpen())
        port_.close();
}

QString QtSerialControl::DeviceFor(int port) const {
    return store_.read(app_, kSerialPortsSection, QStringLiteral("COM%1").arg(port),
                       QStringLiteral("/dev/ttyS%1").arg(port - 1));
}

void QtSerialControl::refused(const QString& what, const QString& reason) {
    emit terminalLine(QStringLiteral("%1: %2 not supported by the device (%3)").arg(port_.portName(), what, reason));
    port_.clearError();
    refusals_ << what;
    if (!opening_)
        reportRefusals();
}

void QtSerialControl::reportRefusals() {
    if (refusals_.isEmpty())
        return;
    // A real modem takes these settings; a refusal usually means the wrong
    // device or a broken adapter, which the user should hear about once.
    const QString line = QStringLiteral("COM%1: the device %2 refused %3 (wrong device or broken adapter?)")
                             .arg(CommPort())
                             .arg(DeviceFor(CommPort()), refusals_.join(QStringLiteral(", ")));
    refusals_.clear();
    if (refusalsReported_.contains(line))
        return;
    refusalsReported_ << line;
    emit deviceFault(line);
}

bool QtSerialControl::hungUp() const {
    pollfd p{static_cast<int>(port_.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Once the other end has hung up, the device stays readable with nothing to
// read, so a waiting event loop would never sleep again. A hang-up or a
// device that failed therefore closes the port at once; the modem routines
// see the closed port and end their wait.
void QtSerialControl::portError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || !port_.isOpen())
        return;
    const bool hangUp = hungUp();
    const bool lost = hangUp || error == QSerialPort::ResourceError || error == QSerialPort::DeviceNotFoundError ||
                      error == QSerialPort::ReadError;
    if (!lost)
        return; // a refused setting or a single failed write: the member that caused it reports it
    const QString device = DeviceFor(CommPort());
    const QString reason = hangUp ? QStringLiteral("hang-up") : port_.errorString();
    port_.clearError();
    port_.close();
    reportLineLost(device, reason);
}

void QtSerialControl::SetPortOpen(bool open) {
    if (!open) {
        if (port_.isOpen())
            port_.close();
        return;
    }
    if (port_.isOpen())
        raise(PortAlreadyOpen, QStringLiteral("Port already open"));
    if (CommPort() < 1)
        raise(InvalidPortNumber, QStringLiteral("Invalid port number"));
    const QString device = DeviceFor(CommPort());
    port_.setPortName(device);
    if (!QFileInfo::exists(device) || !port_.open(QIODevice::ReadWrite)) {
        const QString reason = QFileInfo::exists(device) ? port_.errorString() : QStringLiteral("no such device");
        port_.clearError();
        raise(PortUnavailable, QStringLiteral("Port unavailable: %1 (%2)").arg(device, reason));
    }
    opening_ = true;
    applyLine();
    applyFlow();
    applyDtr();
    opening_ = false;
    reportRefusals();
}

void QtSerialControl::applyLine() {
    const LineSettings line = ParseSettings(Settings());
    if (!port_.setBaudRate(line.baud))
        refused(QStringLiteral("%1 baud").arg(line.baud), port_.errorString());
    if (!port_.setDataBits(static_cast<QSerialPort::DataBits>(std::clamp(line.dataBits, 5, 8))) || line.dataBits < 5)
        refused(QStringLiteral("%1 data bits").arg(line.dataBits), port_.errorString());
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (line.parity) {
    case 'E': parity = QSerialPort::EvenParity; break;
    case 'O': parity = QSerialPort::OddParity; break;
    case 'M': parity = QSerialPort::MarkParity; break;
    case 'S': parity = QSerialPort::SpaceParity; break;
    default: break;
    }
    if (!port_.setParity(parity))
        refused(QStringLiteral("parity %1").arg(QLatin1Char(line.parity)), port_.errorString());
    const QSerialPort::StopBits stop = line.stopBits == 2     ? QSerialPort::TwoStop
                                       : line.stopBits == 1.5 ? QSerialPort::OneAndHalfStop
                                                              : QSerialPort::OneStop;
    if (!port_.setStopBits(stop))
        refused(QStringLiteral("%1 stop bits").arg(line.stopBits), port_.errorString());
}

void QtSerialControl::applyFlow() {
    const int mode = FlowControl();
    const auto flow = mode == 1   ? QSerialPort::SoftwareControl
                      : mode >= 2 ? QSerialPort::HardwareControl
                                  : QSerialPort::NoFlowControl;
    if (!port_.setFlowControl(flow)) {
        refused(QStringLiteral("flow control %1").arg(mode), port_.errorString());
        return;
    }
    if (mode == 3) {
        // QSerialPort offers one kind of flow control; XON/XOFF is added
        // to RTS/CTS on the terminal directly.
        termios tio{};
        const int fd = static_cast<int>(port_.handle());
        if (tcgetattr(fd, &tio) != 0 || ((tio.c_iflag |= IXON | IXOFF), tcsetattr(fd, TCSANOW, &tio) != 0))
            refused(QStringLiteral("XON/XOFF"), QString::fromLocal8Bit(std::strerror(errno)));
    }
}

void QtSerialControl::applyDtr() {
    if (!port_.setDataTerminalReady(DTREnable()))
        refused(QStringLiteral("DTR"), port_.errorString());
}

int QtSerialControl::InBufferCount() const { return port_.isOpen() ? static_cast<int>(port_.bytesAvailable()) : 0; }

void QtSerialControl::SetInBufferCount(int count) {
    if (count != 0)
        raise(InvalidPropertyValue, QStringLiteral("Invalid property value"));
    if (!port_.isOpen())
        return; // nothing received on a closed port
    port_.clear(QSerialPort::Input);
    port_.readAll();
}

QString QtSerialControl::Input() {
    if (!port_.isOpen())
        notOpen();
    return QString::fromLatin1(port_.readAll());
}

void QtSerialControl::SetOutput(const QString& text) {
    if (!port_.isOpen())
        notOpen();
    port_.write(text.toLatin1());
}

} // namespace tessaly
