#include "app/registry.h"

#include "state/appinfo.h"
#include "ground/tessalyerror.h"
#include "ground/textfmt.h"
#include "platform/settingsstore.h"

namespace tessaly {

QString defaultProfilePath(const QString& programDir) { return programDir + QLatin1String("/DEFAULT.dat"); }

StartupRegistryValues readStartupValues(const SettingsStore& store, const QString& programDir) {
    StartupRegistryValues v;
    // Reads one value and hands it to `take`; when that fails, `take` gets
    // the default instead and the value is reported.
    auto read = [&](const char* name, const QString& def, const auto& take) {
        const QString value = QString::fromLatin1(name);
        QString text = def;
        try {
            text = store.read(kAppTitle, kSettingsSection, value, def);
            take(text);
        } catch (const TessalyError& e) {
            v.problems << QStringLiteral("%1 in registry value \"%2\" (\"%3\"); the default %4 is used")
                              .arg(e.description(), value, text, def);
            take(def);
        }
    };
    const QString one = QStringLiteral("1");
    read("Defaultfile", defaultProfilePath(programDir), [&](const QString& t) { v.profileName = t; });
    read("ShowStatus", one, [&](const QString& t) { v.statusWindow = t != QLatin1String("0"); });
    read("GetMail", one, [&](const QString& t) { v.download = t != QLatin1String("0"); });
    read("SystemTray", one, [&](const QString& t) { v.tray = t != QLatin1String("0"); });
    read("MailSize", QStringLiteral("20"), [&](const QString& t) { v.mailSize = roundToInt32(leadingNumber(t)); });
    read("CheckUpdates", QStringLiteral("True"),
         [&](const QString& t) { v.versionCheck = t == QLatin1String("True"); });
    return v;
}

bool migrationDue(const SettingsStore& store) {
    return store.hasSection(kPreviousAppTitle, kSettingsSection) &&
           !store.contains(kAppTitle, kSettingsSection, kMigrationMarker);
}

void MigrateSettings(SettingsStore& store, const QString& programDir, QSize screenTwips) {
    auto old = [&](const char* name, const QString& def) {
        return store.read(kPreviousAppTitle, kSettingsSection, QString::fromLatin1(name), def);
    };
    const QString one = QStringLiteral("1");
    const QString version = old("Version", QString());
    const QString defaultFile = old("Defaultfile", defaultProfilePath(programDir));
    const QString showStatus = old("ShowStatus", one);
    const QString getMail = old("GetMail", one);
    const QString checkMail = old("CheckMail", one);
    const QString systemTray = old("SystemTray", one);
    const QString mailSize = old("MailSize", QStringLiteral("20"));
    const QString soundFile = old("SoundFile", QStringLiteral("NewMail.wav"));
    const QString enableSound = old("EnableSound", one);
    const QString statusLeft = old("StatusLeft", QString::number(screenTwips.width() - 3960));
    const QString statusTop = old("StatusTop", QString::number(screenTwips.height() - 1335));

    auto put = [&](const char* name, const QString& value) {
        store.write(kAppTitle, kSettingsSection, QString::fromLatin1(name), value);
    };
    put("DefaultFile", defaultFile);
    put("ShowStatus", showStatus);
    put("CheckMail", checkMail);
    put("GetMail", getMail);
    put("SystemTray", systemTray);
    put("MailSize", mailSize);
    put("EnableSound", enableSound);
    put("SoundFile", soundFile);
    put("Version", version);
    put("StatusLeft", statusLeft);
    put("StatusTop", statusTop);
    store.write(kAppTitle, kSettingsSection, kMigrationMarker, kPreviousAppTitle);
}

} // namespace tessaly
