#include "state/appinfo.h"

#include "ground/textfmt.h"

namespace tessaly {

const QString& VersionString() {
    static const QString version = formatWhole(kVersionMajor) + QLatin1Char('.') + formatWhole(kVersionMinor) +
                                   QLatin1Char('.') + formatFourDigits(kVersionRevision);
    return version;
}

QString SplashVersionText() {
    return QStringLiteral("Version ") + formatWhole(kVersionMajor) + QLatin1Char('.') + formatWhole(kVersionMinor);
}

} // namespace tessaly
