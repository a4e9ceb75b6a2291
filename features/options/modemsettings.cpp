#include "features/options/modemsettings.h"

#include "ground/tessalyerror.h"
#include "ground/textfmt.h"
#include "platform/prompter.h"
#include "platform/serialcontrol.h"
#include "state/livesettings.h"

#include <algorithm>
#include <cmath>

namespace tessaly::modem {

namespace {
constexpr int kLastSlot = LiveSettings::kModemProfileSlots - 1;

std::int16_t wholeOf(const QString& text) {
    const double v = std::nearbyint(leadingNumber(text));
    if (!(v > 0))
        return 0;
    return static_cast<std::int16_t>(std::min(v, 32767.0));
}
} // namespace

QStringList Ports() {
    QStringList out{QStringLiteral("None")};
    for (int i = 1; i <= 8; ++i)
        out << QStringLiteral("COM%1").arg(i);
    return out;
}
QStringList FlowControls() {
    return {QStringLiteral("None"), QStringLiteral("XON/XOFF"), QStringLiteral("RTS/CTS"), QStringLiteral("BOTH")};
}
QStringList DialTypes() { return {QStringLiteral("Tone"), QStringLiteral("Pulse")}; }
QStringList Volumes() { return {QStringLiteral("Low"), QStringLiteral("Med"), QStringLiteral("Hi")}; }
QStringList SpeakerModes() {
    return {QStringLiteral("Off"), QStringLiteral("On Until Carrier Detected"), QStringLiteral("On Always"),
            QStringLiteral("On Until CD except Dialing")};
}

QStringList ProfileNames(const LiveSettings& s) {
    QStringList out;
    const int highest = std::clamp<int>(s.highestModemProfile, 0, kLastSlot);
    for (int i = 0; i <= highest; ++i)
        out << s.modemProfiles[static_cast<std::size_t>(i)].name;
    return out;
}

std::optional<int> Add(ModemContext& ctx, const QString& initString) {
    LiveSettings& s = ctx.settings;
    if (s.highestModemProfile >= kLastSlot) {
        ctx.prompter.messageBox(kMaxText, MsgButtons::OK);
        return std::nullopt;
    }
    const std::optional<QString> name = ctx.prompter.inputBox(kNamePrompt, QString(), QString());
    if (!name || name->isEmpty())
        return std::nullopt;
    const int slot = s.highestModemProfile + 1;
    s.modemProfiles[static_cast<std::size_t>(slot)] = ModemProfile{*name, initString};
    s.highestModemProfile = static_cast<std::int16_t>(slot);
    s.selectedModemProfile = static_cast<std::int16_t>(slot);
    ctx.profileChanged = true;
    return slot;
}

DeleteOutcome Delete(ModemContext& ctx, int index) {
    LiveSettings& s = ctx.settings;
    const QString name =
        index >= 0 && index <= kLastSlot ? s.modemProfiles[static_cast<std::size_t>(index)].name : QString();
    if (ctx.prompter.messageBox(QStringLiteral("Delete ") + name + QStringLiteral("?"), MsgButtons::YesNo,
                                MsgIcon::Warning) != MsgAnswer::Yes)
        return DeleteOutcome::Declined;
    if (index < 0 || index > s.highestModemProfile)
        return DeleteOutcome::NoneChosen;
    DeleteOutcome outcome = DeleteOutcome::Deleted;
    if (s.highestModemProfile == 0) {
        ctx.prompter.messageBox(kNoEntriesText, MsgButtons::OK);
        outcome = DeleteOutcome::Kept;
    } else {
        for (int i = index; i < s.highestModemProfile; ++i)
            s.modemProfiles[static_cast<std::size_t>(i)] = s.modemProfiles[static_cast<std::size_t>(i + 1)];
        s.modemProfiles[static_cast<std::size_t>(s.highestModemProfile)] = ModemProfile{};
        s.highestModemProfile = static_cast<std::int16_t>(s.highestModemProfile - 1);
    }
    ctx.profileChanged = true;
    s.selectedModemProfile = 0;
    return outcome;
}

bool Save(ModemContext& ctx, const Fields& f) {
    LiveSettings& s = ctx.settings;
    if (ctx.serial) {
        try {
            ctx.serial->SetCommPort(std::clamp(f.port, 0, 8));
            ctx.serial->SetFlowControl(std::clamp(f.flow, 0, 3));
        } catch (const TessalyError& e) {
            // The port is open: a page is being sent.
            ctx.prompter.messageBox(QStringLiteral("The modem settings cannot be changed while a page is being "
                                                   "sent (%1). Please try again when it is done.")
                                        .arg(e.description()),
                                    MsgButtons::OK);
            return false;
        }
    }
    s.modemPortIndex = static_cast<std::int16_t>(std::clamp(f.port, 0, 8));
    s.flowControlIndex = static_cast<std::int16_t>(std::clamp(f.flow, 0, 3));
    s.dialTypeIndex = static_cast<std::int16_t>(std::clamp(f.dialType, 0, 1));
    s.speakerVolumeIndex = static_cast<std::int16_t>(std::clamp(f.volume, 0, 2));
    s.speakerModeIndex = static_cast<std::int16_t>(std::clamp(f.speaker, 0, 3));
    s.retries = wholeOf(f.retries);
    s.retryWait = wholeOf(f.seconds);
    const int selected = std::clamp<int>(s.selectedModemProfile, 0, s.highestModemProfile);
    s.modemProfiles[static_cast<std::size_t>(selected)].initString = f.initString;
    ctx.profileChanged = true;
    return true;
}

} // namespace tessaly::modem
