#pragma once
// frmHTTP: the never-shown transport window of one CHTTP object. It
// carries the HTTP control, turns the control's events into the flags
// CHTTP's wait polls, collects the received text, writes every event to the
// traffic window and passes transport errors on as WSError.

#include "platform/httpcontrol.h"

#include <QObject>

namespace webwire {

class FrmHTTP : public QObject {
    Q_OBJECT
public:
    explicit FrmHTTP(tessaly::HttpControl& control, QObject* parent = nullptr);

    tessaly::HttpControl& CIHTTP1() { return control_; }

    bool ServerConnection() const { return serverConnection_; }
    // Reading also clears ServerConnection, so a wait that reads the
    // connection first and this flag later acts on a connection once.
    bool SocketClosed() {
        serverConnection_ = false;
        return socketClosed_;
    }
    // The flag without the side effect, for a wait's wake-up test.
    bool SocketClosedNow() const { return socketClosed_; }
    void SetSocketClosed(bool v) { socketClosed_ = v; }
    bool WinsockError() const { return winsockError_; }
    void SetWinsockError(bool v) { winsockError_ = v; }
    bool FileClosed() const { return fileClosed_; }
    // Everything received since the last connection.
    QString Data() const { return data_; }

    // Builds the transport error message for control error number k.
    static QString ErrorMessage(int k);

signals:
    void WSError(const QString& sMessage);

private:
    void onError(int number);
    void onSecureError(const QString& description);

    tessaly::HttpControl& control_;
    bool serverConnection_ = false;
    bool socketClosed_ = false;
    bool winsockError_ = false;
    bool fileClosed_ = false;
    QString data_;
};

} // namespace webwire
