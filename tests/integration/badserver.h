#pragma once
// A misbehaving server on 127.0.0.1 for integration tests, run in the
// test's own event loop.

#include <QTcpServer>
#include <QTcpSocket>
#include <functional>

namespace tessaly::testing {

class ScriptServer : public QObject {
public:
    // `onConnect` runs for each accepted connection; `onData` for each
    // arrival (may be empty).
    std::function<void(QTcpSocket*)> onConnect;
    std::function<void(QTcpSocket*, const QByteArray&)> onData;
    QByteArray received;

    quint16 start() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                s->setParent(this);
                connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    const QByteArray bytes = s->readAll();
                    received += bytes;
                    if (onData)
                        onData(s, bytes);
                });
                if (onConnect)
                    onConnect(s);
            }
        });
        return server_.serverPort();
    }

private:
    QTcpServer server_;
};

} // namespace tessaly::testing
