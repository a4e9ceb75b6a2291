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

ProfileTable ProfileTable::Of(const LiveSettings& s) {
    ProfileTable t;
    t.profiles = s.modemProfiles;
    t.highest = std::clamp<int>(s.highestModemProfile, 0, kLastSlot);
    t.selected = std::clamp<int>(s.selectedModemProfile, 0, kLastSlot);
    return t;
}

const ModemProfile& ProfileTable::At(int index) const {
    return profiles[static_cast<std::size_t>(std::clamp(index, 0, highest))];
}

QStringList ProfileNames(const ProfileTable& table) {
    QStringList out;
    for (int i = 0; i <= table.highest; ++i)
        out << table.profiles[static_cast<std::size_t>(i)].name;
    return out;
}

std::optional<int> Add(ModemContext& ctx, ProfileTable& t, const QString& initString) {
    if (t.highest >= kLastSlot) {
        ctx.prompter.messageBox(kMaxText, MsgButtons::OK);
        return std::nullopt;
    }
    const std::optional<QString> name = ctx.prompter.inputBox(kNamePrompt, QString(), QString());
    if (!name || name->isEmpty())
        return std::nullopt;
    const int slot = t.highest + 1;
    t.profiles[static_cast<std::size_t>(slot)] = ModemProfile{*name, initString};
    t.highest = slot;
    t.selected = slot;
    return slot;
}

DeleteOutcome Delete(ModemContext& ctx, ProfileTable& t, int index) {
    const QString name =
        index >= 0 && index <= kLastSlot ? t.profiles[static_cast<std::size_t>(index)].name : QString();
    if (ctx.prompter.messageBox(QStringLiteral("Delete ") + name + QStringLiteral("?"), MsgButtons::YesNo,
                                MsgIcon::Warning) != MsgAnswer::Yes)
        return DeleteOutcome::Declined;
    if (index < 0 || index > t.highest)
        return DeleteOutcome::NoneChosen;
    DeleteOutcome outcome = DeleteOutcome::Deleted;
    if (t.highest == 0) {
        ctx.prompter.messageBox(kNoEntriesText, MsgButtons::OK);
        outcome = DeleteOutcome::Kept;
    } else {
        for (int i = index; i < t.highest; ++i)
            t.profiles[static_cast<std::size_t>(i)] = t.profiles[static_cast<std::size_t>(i + 1)];
        t.profiles[static_cast<std::size_t>(t.highest)] = ModemProfile{};
        --t.highest;
    }
    t.selected = 0;
    return outcome;
}

bool Save(ModemContext& ctx, const ProfileTable& t, const Fields& f) {
    LiveSettings& s = ctx.settings;
    const int selected = std::clamp(t.selected, 0, t.highest);
    const ModemProfile& profile = t.profiles[static_cast<std::size_t>(selected)];
    if (f.initString.trimmed().isEmpty() && !profile.initString.trimmed().isEmpty() &&
        ctx.prompter.messageBox(kEmptyInitQuestion.arg(profile.name), MsgButtons::YesNo, MsgIcon::Warning) !=
            MsgAnswer::Yes)
        return false;
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
    s.modemProfiles = t.profiles;
    s.highestModemProfile = static_cast<std::int16_t>(t.highest);
    s.selectedModemProfile = static_cast<std::int16_t>(selected);
    s.modemPortIndex = static_cast<std::int16_t>(std::clamp(f.port, 0, 8));
    s.flowControlIndex = static_cast<std::int16_t>(std::clamp(f.flow, 0, 3));
    s.dialTypeIndex = static_cast<std::int16_t>(std::clamp(f.dialType, 0, 1));
    s.speakerVolumeIndex = static_cast<std::int16_t>(std::clamp(f.volume, 0, 2));
    s.speakerModeIndex = static_cast<std::int16_t>(std::clamp(f.speaker, 0, 3));
    s.retries = wholeOf(f.retries);
    s.retryWait = wholeOf(f.seconds);
    s.modemProfiles[static_cast<std::size_t>(selected)].initString = f.initString;
    ctx.profileChanged = true;
    return true;
}

} // namespace tessaly::modem
