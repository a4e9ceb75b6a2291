#include "state/livesettings.h"

namespace tessaly {

void LiveSettings::applyFactoryValues() {
    startTime = QStringLiteral("8:00 am");
    stopTime = QStringLiteral("5:00 pm");
    checkInterval = 60;
    maxPOPAccounts = 3;
    checkMailFlag = true;
    modemProfiles = {};
    modemProfiles[0] = {QStringLiteral("Stored Profile"), QStringLiteral("ATZ")};
    modemProfiles[1] = {QStringLiteral("Factory Settings"), QStringLiteral("AT&F")};
    modemProfiles[2] = {QStringLiteral("Hayes Compatible"), QStringLiteral("AT&F E0 V1 &D2 &C1 &Q0")};
    highestModemProfile = 2;
    selectedModemProfile = 2;
    modemPortIndex = 2;
    flowControlIndex = 0;
    retries = 3;
    retryWait = 30;
    dialTypeIndex = 0;
    speakerVolumeIndex = 1;
    speakerModeIndex = 0;
}

} // namespace tessaly
