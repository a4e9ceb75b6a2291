#pragma once
// The modem window's logic: the table of named modem profiles (slots 0 to
// 20, each an initialisation command) and the modem settings the modem
// routines read. The window (frmModem) shows the drop-downs and forwards
// its four buttons here. Add, Del and the choice of a profile change the
// window's own copy of the table; Save stores it with the other settings,
// Cancel throws it away.

#include "state/livesettings.h"

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace tessaly {

class Prompter;
class SerialControl;

struct ModemContext {
    LiveSettings& settings;
    bool& profileChanged;
    Prompter& prompter;
    // The main window's serial port control; none where the run has none.
    SerialControl* serial = nullptr;
};

namespace modem {

inline const QString kMaxText = QStringLiteral("20 Modems Max");
inline const QString kNoEntriesText = QStringLiteral("No Entries");
inline const QString kNamePrompt = QStringLiteral("Enter name for new modem");
// Asked at Save when the init string field is empty but the profile has a command.
inline const QString kEmptyInitQuestion =
    QStringLiteral("The Pager Init String is empty. Save \"%1\" without an init string?");

// The profile table as the window edits it.
struct ProfileTable {
    std::array<ModemProfile, LiveSettings::kModemProfileSlots> profiles{};
    int highest = 0;
    int selected = 0;

    static ProfileTable Of(const LiveSettings& s);
    // The profile at `index`, clamped into the used slots.
    const ModemProfile& At(int index) const;
};

QStringList Ports();        // "None", "COM1" .. "COM8"
QStringList FlowControls(); // "None", "XON/XOFF", "RTS/CTS", "BOTH"
QStringList DialTypes();
QStringList Volumes();
QStringList SpeakerModes();

// The profile names in slot order, 0 to the highest used slot.
QStringList ProfileNames(const ProfileTable& table);

// "Add": asks for a name; the new profile takes the next slot of `table`
// with `initString` and becomes the selected one. Its slot, or none when
// nothing was added (the table is full, or no name was given).
std::optional<int> Add(ModemContext& ctx, ProfileTable& table, const QString& initString);

// "Del" for the profile at `index` (-1: none chosen in the drop-down).
enum class DeleteOutcome {
    Declined,   // the user answered No
    NoneChosen, // nothing was selected: a beep
    Kept,       // the last profile stays ("No Entries")
    Deleted,
};
// On Yes the profile leaves `table` (unless it is the last one) and slot 0
// becomes the selected profile.
DeleteOutcome Delete(ModemContext& ctx, ProfileTable& table, int index);

// "Save": the profile table, the drop-down positions, the retries and
// seconds fields, the command shown into the selected profile; the serial
// control takes the port and the flow control; the profile is marked as
// changed. An empty command for a profile that has one is only stored when
// the user says so. False (nothing stored) when the user says No to that,
// or (with a message) when the port cannot be changed now.
struct Fields {
    int port = 0;
    int flow = 0;
    int dialType = 0;
    int volume = 0;
    int speaker = 0;
    QString retries;
    QString seconds;
    QString initString;
};
bool Save(ModemContext& ctx, const ProfileTable& table, const Fields& fields);

} // namespace modem
} // namespace tessaly
