#pragma once
// The serial port control the modem routines poll: port number, line
// settings, flow control, DTR, open/close, and the receive buffer.

#include "platform/settingsstore.h"

#include <QObject>
#include <QSerialPort>

namespace tessaly {

// The settings file's section naming each COM port's device ("COM2=/dev/ttyUSB0").
inline const QString kSerialPortsSection = QStringLiteral("Serial Ports");

class SerialControl : public QObject {
    Q_OBJECT
public:
    // Error numbers raised (as TessalyError) by the members.
    static constexpr int InvalidPropertyValue = 380;
    static constexpr int InvalidPortNumber = 8002;
    static constexpr int PortAlreadyOpen = 8005;
    static constexpr int PortUnavailable = 8013;
    static constexpr int PortNotOpen = 8018;

    using QObject::QObject;
    ~SerialControl() override = default;

    // 0 = none, 1..8 = COM1..COM8. Changing it while the port is open is an error.
    int CommPort() const { return commPort_; }
    void SetCommPort(int port);
    // "baud,parity,data bits,stop bits", e.g. "1200,E,7,1"; parity N, E, O, M or S.
    QString Settings() const { return settings_; }
    void SetSettings(const QString& settings);
    // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both.
    int FlowControl() const { return flowControl_; }
    void SetFlowControl(int mode);
    bool DTREnable() const { return dtrEnable_; }
    void SetDTREnable(bool on);

    // False for a line that reaches the far end without a modem (a paging
    // terminal on a TCP port): nothing is dialled and hanging up only closes.
    virtual bool Dials() const { return true; }
    virtual bool PortOpen() const = 0;
    // Opening a port that is missing, busy or forbidden raises PortUnavailable.
    virtual void SetPortOpen(bool open) = 0;
    // Characters received and not yet read.
    virtual int InBufferCount() const = 0;
    // 0 discards everything received so far.
    virtual void SetInBufferCount(int count) = 0;
    // Everything received, removed from the buffer.
    virtual QString Input() = 0;
    // Queues the text for sending and returns at once.
    virtual void SetOutput(const QString& text) = 0;

    struct LineSettings {
        int baud = 9600;
        char parity = 'N';
        int dataBits = 8;
        double stopBits = 1;
    };
    // Parses a Settings text; raises InvalidPropertyValue when it is not one.
    static LineSettings ParseSettings(const QString& settings);

signals:
    // A line for the terminal window, e.g. a line setting the device refused.
    void terminalLine(const QString& text);
    // A fault of the device for the activity log: it hung up or went away
    // (the port is closed by then), or it refused line settings (once per
    // device and kind of refusal).
    void deviceFault(const QString& text);

protected:
    // The device on `device` hung up or failed and the port has been closed:
    // one line to the terminal window and the activity log.
    void reportLineLost(const QString& device, const QString& reason);
    // Called when a setting changes while the port is open.
    virtual void applyLine() {}
    virtual void applyFlow() {}
    virtual void applyDtr() {}

private:
    int commPort_ = 1;
    QString settings_ = QStringLiteral("9600,N,8,1");
    int flowControl_ = 0;
    bool dtrEnable_ = false;
};

// The real port, through QSerialPort. COMn is /dev/ttyS(n-1) unless the
// settings store holds a device for it: application `app`, section
// "Serial Ports", value "COMn" (for example a USB modem or a pseudo-terminal).
class QtSerialControl : public SerialControl {
    Q_OBJECT
public:
    explicit QtSerialControl(const SettingsStore& store, QString app, QObject* parent = nullptr);
    ~QtSerialControl() override;

    // The device COMn opens.
    QString DeviceFor(int port) const;

    bool PortOpen() const override { return port_.isOpen(); }
    void SetPortOpen(bool open) override;
    int InBufferCount() const override;
    void SetInBufferCount(int count) override;
    QString Input() override;
    void SetOutput(const QString& text) override;

protected:
    void applyLine() override;
    void applyFlow() override;
    void applyDtr() override;

private:
    // A setting the device did not take: a terminal line at once; the
    // refusals of one opening go to the activity log together.
    void refused(const QString& what, const QString& reason);
    void reportRefusals();
    void portError(QSerialPort::SerialPortError error);
    bool hungUp() const;

    const SettingsStore& store_;
    QString app_;
    mutable QSerialPort port_;
    bool opening_ = false;
    QStringList refusals_;
    QStringList refusalsReported_;
};

} // namespace tessaly
