#pragma once
// The line to a paging terminal that a terminal server offers on a TCP
// port: the serial control the paging routines poll, over a LinkSession.
// Nothing is dialled; opening the port connects (TLS from the first byte
// when asked), closing it ends the connection. Line settings, flow control
// and DTR mean nothing here and are kept without effect.
//
// Received bytes collect in a bounded buffer while the paging routines wait
// in the event pump; beyond kMaxBuffer unread bytes the oldest are dropped.
// When the terminal closes the connection or the link fails, the bytes it
// sent before are still read; once they are, the port is closed and the
// loss reported (reportLineLost), so a waiting routine ends as "line lost".
// A close right after the logoff (EOT CR) is the end of the call and only
// noted in the terminal window.

#include "platform/bytelink.h"
#include "platform/eventpump.h"
#include "platform/linksession.h"
#include "platform/serialcontrol.h"

namespace tessaly {

class TcpTerminalLink : public SerialControl {
    Q_OBJECT
public:
    // Unread bytes kept at most.
    static constexpr int kMaxBuffer = 64 * 1024;

    TcpTerminalLink(EventPump& pump, LinkFactory& links, QObject* parent = nullptr);
    ~TcpTerminalLink() override;

    // Where the next opening connects; `caFile` (PEM) adds trusted
    // certificates to the system's for TLS.
    void SetAddress(const QString& host, int port, bool tls, const QString& caFile = {});
    QString Host() const { return host_; }
    int Port() const { return port_; }
    bool Tls() const { return tls_; }
    // "host:port" ("[::1]:port" for an IPv6 address), for the texts.
    QString Where() const;
    // Seconds an opening waits for the connection and for the TLS handshake.
    double ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(double seconds) { connectTimeout_ = seconds; }
    // Ends an opening's wait when it turns true.
    void SetCancelFlag(const bool* flag) { cancel_ = flag; }
    // Bytes dropped from the front of a full buffer since the port opened.
    qint64 DroppedBytes() const { return dropped_; }

    bool Dials() const override { return false; }
    bool PortOpen() const override { return open_; }
    // Opening raises PortUnavailable when the terminal cannot be reached,
    // does not answer in time or the TLS handshake fails.
    void SetPortOpen(bool open) override;
    int InBufferCount() const override;
    void SetInBufferCount(int count) override;
    QString Input() override;
    void SetOutput(const QString& text) override;

private:
    void arrived();
    // The peer closed or the link failed while the port was open.
    void ended(const QString& reason);
    // Closes once the bytes of an ended connection have all been read.
    void closeIfDrained();
    void lost(const QString& reason);

    LinkSession session_;
    QString host_;
    int port_ = 0;
    bool tls_ = false;
    QString caFile_;
    double connectTimeout_ = 30;
    const bool* cancel_ = nullptr;
    bool open_ = false;
    bool peerGone_ = false; // ended by the peer; unread bytes remain
    QString goneReason_;
    bool loggedOff_ = false; // the last bytes sent were the logoff
    qint64 dropped_ = 0;
};

} // namespace tessaly
