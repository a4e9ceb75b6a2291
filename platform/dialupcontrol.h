#pragma once
// The dial-up networking control: list and dial entries, hang up, and
// report progress as (state, error) pairs in the Windows RAS numbering the
// program's name tables use.

#include "platform/eventpump.h"

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <memory>

namespace tessaly {

class DialupControl : public QObject {
    Q_OBJECT
public:
    // States beyond the 0..25 connection states.
    static constexpr int StateConnected = 8192;
    static constexpr int StateDisconnected = 8193;
    // States 0..25 used here.
    static constexpr int StateOpenPort = 0;
    static constexpr int StateConnectDevice = 2;
    static constexpr int StateAuthenticate = 5;
    // Errors (601 and above are dial-up errors).
    static constexpr int NoError = 0;
    static constexpr int ErrorCannotFindEntry = 623;
    static constexpr int ErrorUnknown = 635;
    static constexpr int ErrorRequestTimeout = 638;
    static constexpr int ErrorNoConnection = 668;
    static constexpr int ErrorNoAnswer = 678;
    static constexpr int ErrorAuthenticationFailure = 691;
    // Raised (as TessalyError) when no dial-up service is installed.
    static constexpr int NotInstalled = 339;

    struct Credentials {
        QString user;
        QString password;
    };

    using QObject::QObject;
    ~DialupControl() override = default;

    QString EntryName() const { return entryName_; }
    void SetEntryName(const QString& v) { entryName_ = v; }
    QString User() const { return user_; }
    void SetUser(const QString& v) { user_ = v; }
    QString Password() const { return password_; }
    void SetPassword(const QString& v) { password_ = v; }

    // Names of the dial-up connections that are up.
    virtual QStringList ActiveConnections() = 0;
    // Names of all dial-up entries.
    virtual QStringList EntryList() = 0;
    virtual Credentials EntryCredentials(const QString& entry) = 0;
    // Starts dialling EntryName(); progress arrives through stateChanged().
    virtual void Dial() = 0;
    // Ends the dial in progress and every active dial-up connection.
    virtual void HangUp() = 0;

signals:
    void stateChanged(int state, int error);

private:
    QString entryName_, user_, password_;
};

// NetworkManager through its command-line client: the connection profiles
// of the modem-like types (gsm, cdma, pppoe, bluetooth, adsl) are the
// entries; "connection up" dials and "connection down" hangs up. Without
// nmcli every member raises NotInstalled.
class NmcliDialupControl : public DialupControl {
    Q_OBJECT
public:
    // `program`: the nmcli to run; empty looks for "nmcli" on the PATH.
    explicit NmcliDialupControl(EventPump& pump, QString program = {}, QObject* parent = nullptr);
    ~NmcliDialupControl() override;

    QStringList ActiveConnections() override;
    QStringList EntryList() override;
    Credentials EntryCredentials(const QString& entry) override;
    void Dial() override;
    void HangUp() override;

    // Seconds a listing may take (default 15).
    void SetCommandTimeout(double seconds) { commandTimeout_ = seconds; }

private:
    QString program() const;
    // Runs nmcli to its end (waiting in the pump); its standard output.
    QByteArray run(const QStringList& arguments, int* exitCode = nullptr);
    QStringList entries(bool activeOnly);
    QString typeOf(const QString& entry);

    EventPump& pump_;
    QString program_;
    double commandTimeout_ = 15.0;
    std::unique_ptr<QProcess> dial_;
    QString passwordFile_;
};

} // namespace tessaly
