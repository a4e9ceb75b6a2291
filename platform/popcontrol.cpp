#include "platform/popcontrol.h"

#include "ground/sockerr.h"

namespace tessaly {

int TcpControl::SendText(const QString& text) {
    SocketEndpoint* endpoint = registry_.Find(socket_);
    const int result = endpoint ? endpoint->WriteRaw(text.toLatin1()) : sockerr::NotSocket;
    if (result == 0)
        emit packetSent();
    else
        emit error(result, sockerr::Text(result));
    return result;
}

} // namespace tessaly
