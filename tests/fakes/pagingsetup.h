#pragma once
// A paging service as the tests use it: a terminal reached at 1200 baud,
// even parity, 7 data bits, 1 stop bit.

#include "features/paging/cpagerservice.h"

namespace tessaly {

inline void setUpTapService(CPagerService& service, const QString& phone, int port,
                            const QString& init = QStringLiteral("AT&F")) {
    service.SetBaud(QStringLiteral("1200"));
    service.SetParity(QStringLiteral("EVEN"));
    service.SetDataBits(QStringLiteral("7"));
    service.SetStopBits(QStringLiteral("1"));
    service.SetCommPort(static_cast<std::int16_t>(port));
    service.SetInitstring(init);
    service.SetPhone(phone);
}

} // namespace tessaly
