#include "features/paging/pagestate.h"

namespace tessaly::pagestate {

QString Reason(std::int16_t state) {
    switch (state) {
    case InitFailed: return QStringLiteral("Could Not Initialize Modem");
    case NoConnection: return QStringLiteral("Could not connect w/ Service");
    case Cancelled: return QStringLiteral("User Cancelled");
    case NoDialTone: return QStringLiteral("No Dialtone");
    case Busy: return QStringLiteral("Busy");
    case NoIdPrompt: return QStringLiteral("Unable to logon.");
    case LogonRefused: return QStringLiteral("Logon was not accepted.");
    case LineLost: return QStringLiteral("Modem line lost");
    case NoCarrier: return QStringLiteral("No Carrier");
    case NoAnswer: return QStringLiteral("No Answer");
    case DialError: return QStringLiteral("Modem Error");
    case LineNoise: return QStringLiteral("Line Noise");
    default: return {};
    }
}

} // namespace tessaly::pagestate
