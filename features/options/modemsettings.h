#pragma once
// The modem window's logic: the table of named modem profiles (slots 0 to
// 20, each an initialisation command) and the modem settings the modem
// routines read. The window (frmModem) shows the drop-downs and forwards
// its four buttons here.

#include <QString>
#include <QStringList>
#include <optional>

namespace tessaly {

class Prompter;
class SerialControl;
struct LiveSettings;

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

QStringList Ports();        // "None", "COM1" .. "COM8"
QStringList FlowControls(); // "None", "XON/XOFF", "RTS/CTS", "BOTH"
QStringList DialTypes();
QStringList Volumes();
QStringList SpeakerModes();

// The profile names in slot order, 0 to the highest used slot.
QStringList ProfileNames(const LiveSettings& s);

// "Add": asks for a name; the new profile takes the next slot with
// `initString` and becomes the selected one. Its slot, or none when nothing
// was added (the table is full, or no name was given).
std::optional<int> Add(ModemContext& ctx, const QString& initString);

// "Del" for the profile at `index` (-1: none chosen in the drop-down).
enum class DeleteOutcome {
    Declined,   // the user answered No
    NoneChosen, // nothing was selected: a beep
    Kept,       // the last profile stays ("No Entries")
    Deleted,
};
DeleteOutcome Delete(ModemContext& ctx, int index);

// "Save": the drop-down positions, the retries and seconds fields, the
// command shown into the selected profile; the serial control takes the
// port and the flow control. False (with a message) when the port cannot
// be changed now.
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
bool Save(ModemContext& ctx, const Fields& fields);

} // namespace modem
} // namespace tessaly
