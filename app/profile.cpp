#include "app/profile.h"

#include "features/paging/carriersettings.h"
#include "features/paging/escalation.h"

#include "state/appinfo.h"
#include "state/livesettings.h"
#include "state/remotesafety.h"
#include "app/mainprogram.h"
#include "app/mainview.h"
#include "features/mail/cpopaccount.h"
#include "features/paging/cpager.h"
#include "features/paging/cpagerservice.h"
#include "ground/atomicfile.h"
#include "ground/fieldfile.h"
#include "ground/tessalyerror.h"
#include "ground/textfmt.h"
#include "platform/prompter.h"
#include "platform/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace tessaly {

namespace {

constexpr int kFileAccess = 75;
const QString kOlderVersionText =
    QStringLiteral("Your data file is an older version.  Saving this file will convert it to the new version.");
const QString kDialUpMissingText =
    QStringLiteral("CIRAS.OCX is missing or not registered.  Microsoft RAS or dial-up networking") +
    QStringLiteral(" must be installed on PC to initiate a dial-up connection.");

} // namespace

namespace {

QString scrambledField(const QString& password, const QString& what) {
    if (!PasswordStorable(password))
        throw TessalyError(err::InvalidCall,
                           what + QStringLiteral(" cannot be saved: it is 255 characters or longer, or "
                                                 "contains a character that the profile file cannot "
                                                 "hold once scrambled. Please change it and save again."));
    return ScrambleText(password);
}

void checkModemIndexes(std::int16_t highest, std::int16_t selected) {
    if (highest < 0 || highest >= LiveSettings::kModemProfileSlots || selected < 0 ||
        selected >= LiveSettings::kModemProfileSlots)
        throw TessalyError(err::SubscriptRange, QStringLiteral("Subscript out of range"));
}

} // namespace

void SaveProfile(MainProgram& program, const QString& path) {
    const LiveSettings& s = program.Settings();
    FieldWriter w;
    w.Text(VersionString(), QStringLiteral("The version")).EndLine();
    w.Bool(s.pagingEnabled).Int(program.Pagers().Count()).Int(program.Services().Count()).EndLine();
    for (const CPager& p : program.Pagers()) {
        const QString what = QStringLiteral("A field of pager \"%1\"").arg(p.Username());
        w.Text(p.Username(), QStringLiteral("A pager name"))
            .Text(p.ID(), what)
            .Text(p.DigitalNumber(), what)
            .Text(p.ServiceName(), what)
            .Int(p.ProfileType())
            .Text(p.EmailAddress(), what)
            .Text(p.FromAddress(), what)
            .EndLine();
    }
    for (const CPagerService& v : program.Services()) {
        const QString what = QStringLiteral("A field of paging service \"%1\"").arg(v.Name());
        w.Text(v.Name(), QStringLiteral("A paging service name"))
            .Text(v.Baud(), what)
            .Text(v.Parity(), what)
            .Text(v.StopBits(), what)
            .Text(v.DataBits(), what)
            .Int(v.CommPort())
            .Int(v.DigitalDelay())
            .Text(v.Initstring(), what)
            .Int(v.MaxPageChar())
            .Text(v.Phone(), what)
            .Text(v.TerminalPassword(), what)
            .EndLine();
    }
    w.Int(s.modemPortIndex)
        .Int(s.retryWait)
        .Int(s.retries)
        .Int(s.speakerVolumeIndex)
        .Int(s.speakerModeIndex)
        .Int(s.flowControlIndex)
        .Int(s.dialTypeIndex)
        .EndLine();
    checkModemIndexes(s.highestModemProfile, s.selectedModemProfile);
    w.Int(s.highestModemProfile).Int(s.selectedModemProfile).EndLine();
    for (int i = 0; i <= s.highestModemProfile; ++i) {
        const ModemProfile& m = s.modemProfiles[static_cast<std::size_t>(i)];
        w.Text(m.name, QStringLiteral("A modem profile"))
            .Text(m.initString, QStringLiteral("A modem profile"))
            .EndLine();
    }
    w.Bool(s.scheduleEnabled)
        .Int(s.checkInterval)
        .Text(s.startTime, QStringLiteral("The schedule start time"))
        .Text(s.stopTime, QStringLiteral("The schedule stop time"))
        .EndLine();
    for (int day = 1; day <= 7; ++day)
        w.Bool(s.weekdays[static_cast<std::size_t>(day)]).EndLine();
    const QString conn = QStringLiteral("A connection setting");
    w.Text(s.dialUpEntry, conn)
        .Text(s.dialUpUser, conn)
        .Text(scrambledField(s.dialUpPassword, QStringLiteral("The dial-up password")), conn)
        .Int(s.connectionType)
        .Text(s.externalDialerPath, conn)
        .Int(s.dialTimeout)
        .Int(s.dialRetries)
        .EndLine();
    w.Bool(s.pageHeaders).EndLine();
    const QString mail = QStringLiteral("An outgoing mail setting");
    w.Text(s.smtpHostAddress, mail).Text(s.smtpHostName, mail).Int(s.smtpPort).Text(s.domainName, mail).EndLine();
    const QString opt = QStringLiteral("A paging option");
    w.Int(s.messageSizeLimit)
        .Text(s.numericPagePrefix, opt)
        .Bool(s.remoteControlEnabled)
        .Text(scrambledField(s.remotePassword, QStringLiteral("The remote command password")), opt)
        .Text(s.emailClientPath, opt)
        .Bool(s.pageBodyHighestPriority)
        .EndLine();
    w.Int(s.maxPagesPerMessage).Bool(s.pageBody).EndLine();
    w.Int(program.POPAccounts().Count()).EndLine();
    for (const CPOPAccount& a : program.POPAccounts()) {
        const QString what = QStringLiteral("A field of POP3 account \"%1\"").arg(a.Name());
        w.Text(a.Name(), QStringLiteral("A POP3 account name"))
            .Text(a.Server(), what)
            .Int(a.MailPort())
            .Text(a.Username(), what)
            .Text(scrambledField(a.Password(), QStringLiteral("The password of POP3 account \"%1\"").arg(a.Name())),
                  what)
            .Bool(a.CheckMail())
            .EndLine();
    }

    // The whole text is built before the file is touched, and replaces it
    // in one step.
    // It holds the mail, remote and dial-up passwords: only its owner reads it.
    QString why;
    if (!AtomicFile::Write(path, w.Bytes(), AtomicFile::Access::Private, &why)) {
        program.LogActivity(QStringLiteral("Profile not saved: %1").arg(why));
        throw TessalyError(kFileAccess, QStringLiteral("Path/File access error"));
    }
    // The network pager types and their services' values have no fields in
    // the profile; they go to the settings file once the profile is saved.
    const QString failed = SaveCarrierSettings(program.Platform().store, program.Pagers(), program.Services());
    if (!failed.isEmpty()) {
        program.LogActivity(QStringLiteral("Pager settings not saved: %1").arg(failed));
        throw TessalyError(kFileAccess, QStringLiteral("Path/File access error"));
    }
    if (const QString why = SaveEscalation(program.Platform().store, program.Escalation()); !why.isEmpty()) {
        program.LogActivity(QStringLiteral("Escalation settings not saved: %1").arg(why));
        throw TessalyError(kFileAccess, QStringLiteral("Path/File access error"));
    }
    program.SetProfileChanged(false);
}

// ---------------------------------------------------------------- load

namespace {

QByteArray readProfileBytes(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw TessalyError(err::FileNotFound, QStringLiteral("File not found"));
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        throw TessalyError(kFileAccess, QStringLiteral("Path/File access error"));
    return file.readAll();
}

void readSoundSettings(MainProgram& program) {
    LiveSettings& s = program.Settings();
    const SettingsStore& store = program.Platform().store;
    s.soundFile = store.read(kAppTitle, kSettingsSection, QStringLiteral("SoundFile"), QStringLiteral("NewMail.wav"));
    s.soundEnabled = store.read(kAppTitle, kSettingsSection, QStringLiteral("EnableSound"), QStringLiteral("1")) ==
                     QLatin1String("1");
}

// Paging flag, pagers and services, the modem, its profiles and the schedule.
void readUpToWeekdays(FieldReader& r, MainProgram& program) {
    LiveSettings& s = program.Settings();
    s.pagingEnabled = r.ReadBool();
    const std::int32_t pagerCount = r.ReadInt32();
    const std::int32_t serviceCount = r.ReadInt32();

    PagerList& pagers = program.Pagers();
    pagers.Clear();
    for (std::int32_t i = 0; i < pagerCount; ++i) {
        auto p = std::make_unique<CPager>();
        p->SetUsername(r.ReadText());
        p->SetID(r.ReadText());
        p->SetDigitalNumber(r.ReadText());
        const QString service = r.ReadText();
        p->SetServiceName(service.isEmpty() ? QStringLiteral("default") : service);
        p->SetProfileType(r.ReadInt16());
        p->SetEmailAddress(r.ReadText());
        p->SetFromAddress(r.ReadText());
        const QString key = p->Username();
        pagers.Add(std::move(p), key);
    }

    ServiceList& services = program.Services();
    services.Clear();
    for (std::int32_t i = 0; i < serviceCount; ++i) {
        auto v = std::make_unique<CPagerService>();
        v->SetName(r.ReadText());
        v->SetBaud(r.ReadText());
        v->SetParity(r.ReadText());
        v->SetStopBits(r.ReadText());
        v->SetDataBits(r.ReadText());
        v->SetCommPort(r.ReadInt16());
        v->SetDigitalDelay(r.ReadInt16());
        v->SetInitstring(r.ReadText());
        v->SetMaxPageChar(r.ReadInt16());
        v->SetPhone(r.ReadText());
        v->SetTerminalPassword(r.ReadText());
        const QString key = v->Name();
        services.Add(std::move(v), key);
    }

    s.modemPortIndex = r.ReadInt16();
    s.retryWait = r.ReadInt16();
    s.retries = r.ReadInt16();
    s.speakerVolumeIndex = r.ReadInt16();
    s.speakerModeIndex = r.ReadInt16();
    s.flowControlIndex = r.ReadInt16();
    s.dialTypeIndex = r.ReadInt16();
    const std::int16_t highest = r.ReadInt16();
    const std::int16_t selected = r.ReadInt16();
    checkModemIndexes(highest, selected); // the table has 21 slots
    s.highestModemProfile = highest;
    s.selectedModemProfile = selected;
    for (int i = 0; i <= highest; ++i) {
        ModemProfile& m = s.modemProfiles[static_cast<std::size_t>(i)];
        m.name = r.ReadText();
        m.initString = r.ReadText();
    }

    s.scheduleEnabled = r.ReadBool();
    s.checkInterval = r.ReadInt16();
    s.startTime = r.ReadText();
    s.stopTime = r.ReadText();
    for (int day = 1; day <= 7; ++day)
        s.weekdays[static_cast<std::size_t>(day)] = r.ReadBool();
}

void readConnection(FieldReader& r, LiveSettings& s) {
    s.dialUpEntry = r.ReadText();
    s.dialUpUser = r.ReadText();
    s.dialUpPassword = UnscrambleText(r.ReadText());
    s.connectionType = r.ReadInt16();
    s.externalDialerPath = r.ReadText();
    s.dialTimeout = r.ReadInt16();
    s.dialRetries = r.ReadInt16();
}

// Outgoing mail, message size and options, pages.
void readMailAndPages(FieldReader& r, LiveSettings& s) {
    s.smtpHostAddress = r.ReadText();
    s.smtpHostName = r.ReadText();
    s.smtpPort = r.ReadInt16();
    s.domainName = r.ReadText();
    s.messageSizeLimit = r.ReadInt32();
    s.numericPagePrefix = r.ReadText();
    s.remoteControlEnabled = r.ReadBool();
    s.remotePassword = UnscrambleText(r.ReadText());
    s.emailClientPath = r.ReadText();
    s.pageBodyHighestPriority = r.ReadBool();
    s.maxPagesPerMessage = r.ReadInt16();
    s.pageBody = r.ReadBool();
}

// A dial-up connection needs the dial-up component; without it the profile
// falls back to a direct connection. True when that happened.
bool checkDialUp(MainProgram& program) {
    LiveSettings& s = program.Settings();
    if (s.connectionType != ConnDialUp || program.DialUpAvailable())
        return false;
    program.Platform().prompter.messageBox(kDialUpMissingText, MsgButtons::OK);
    s.connectionType = ConnDirect;
    program.SetProfileChanged(true);
    return true;
}

void showLoaded(MainProgram& program, const QString& path) {
    ApplyCarrierSettings(program.Platform().store, program.Pagers(), program.Services());
    program.Escalation() = LoadEscalation(program.Platform().store);
    program.View().SetCaption(QStringLiteral("Tessaly: ") + path);
    program.View().SetProfileMenusEnabled(true);
    program.UpdateSettings();
}

bool isShippedProfilePath(const MainProgram& program, const QString& path) {
    const QString given = QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toLower();
    const QString shipped = QDir::cleanPath(program.Platform().programDir + QLatin1String("/default.dat")).toLower();
    return given == shipped;
}

// The outcomes both readers share; an overflow reaches this only from the
// older-format reader, where it is an error like any other.
void reportLoadError(MainProgram& program, const QString& path, const TessalyError& e) {
    Prompter& prompter = program.Platform().prompter;
    switch (e.number()) {
    case err::FileNotFound:
        prompter.messageBox(QStringLiteral("File ") + path + QStringLiteral(" does not exist."), MsgButtons::OK);
        program.SetProfileChanged(true);
        program.SetProfileLoadFailed(true);
        break;
    case err::InputPastEnd:
        prompter.messageBox(kOlderVersionText, MsgButtons::OK);
        program.SetProfileChanged(true);
        // What was read stays in effect, so the display shows it too.
        showLoaded(program, path);
        break;
    default:
        prompter.messageBox(e.description(), MsgButtons::OK);
        program.SetProfileLoadFailed(true);
        break;
    }
}

} // namespace

bool IsShippedProfile(const MainProgram& program, const QString& path) { return isShippedProfilePath(program, path); }

void LoadOldProfile(MainProgram& program, const QString& path) {
    readSoundSettings(program);
    try {
        const QByteArray data = readProfileBytes(path);
        bool converted = false;
        if (!data.isEmpty()) {
            FieldReader r(data);
            LiveSettings& s = program.Settings();
            readUpToWeekdays(r, program);
            r.ReadText(); // a value this format carries and nothing uses
            readConnection(r, s);
            const QString server = r.ReadText();
            const std::int16_t port = r.ReadInt16();
            const QString user = r.ReadText();
            const QString password = UnscrambleText(r.ReadText());
            r.ReadText(); // unused
            POPAccountList& accounts = program.POPAccounts();
            accounts.Clear();
            accounts.Add(QStringLiteral("Default"), server, port, user, password, true);
            readMailAndPages(r, s);
            converted = checkDialUp(program);
        }
        showLoaded(program, path);
        // A dial-up fallback is a change the user should be asked to save.
        program.SetProfileChanged(converted);
    } catch (const TessalyError& e) {
        reportLoadError(program, path, e);
    } catch (const std::exception& e) {
        program.Platform().prompter.messageBox(QString::fromLocal8Bit(e.what()), MsgButtons::OK);
        program.SetProfileLoadFailed(true);
    }
}

void NoteRemoteControlOff(MainProgram& program) {
    const LiveSettings& s = program.Settings();
    if (!s.remoteControlEnabled)
        return;
    if (s.remotePassword.isEmpty())
        program.LogActivity(QStringLiteral("Remote Command: Remote control stays off: the remote command password "
                                           "is empty; set one under Options, Remote Control"));
    else if (LoadRemoteSafety(program.Platform().store).allowedSenders.isEmpty())
        program.LogActivity(QStringLiteral("Remote Command: Remote control stays off: no allowed sender is named; "
                                           "add the addresses under Options, Remote Control"));
}

void LoadProfile(MainProgram& program, const QString& path) {
    program.SetProfileLoadFailed(false);
    readSoundSettings(program);
    try {
        const QByteArray data = readProfileBytes(path);
        bool converted = false;
        if (!data.isEmpty()) {
            FieldReader r(data);
            LiveSettings& s = program.Settings();
            // The older format has no version line: its first field is the
            // unquoted paging flag. It goes the way of a numeric overflow,
            // which is what reading it as the current format would run into.
            if (!r.NextFieldQuoted())
                throw overflowError();
            r.ReadText(); // version of the writer; not examined
            readUpToWeekdays(r, program);
            readConnection(r, s);
            s.pageHeaders = r.ReadBool();
            readMailAndPages(r, s);

            POPAccountList& accounts = program.POPAccounts();
            accounts.Clear();
            const std::int32_t count = r.ReadInt32();
            const int limit = std::max<int>(0, s.maxPOPAccounts);
            for (std::int32_t i = 0; i < count; ++i) {
                const QString name = r.ReadText();
                const QString server = r.ReadText();
                const std::int16_t port = r.ReadInt16();
                const QString user = r.ReadText();
                const QString password = UnscrambleText(r.ReadText());
                const bool check = r.ReadBool();
                // Accounts beyond the program's maximum are read and dropped,
                // so the limit holds even when the file ends early.
                if (accounts.Count() < limit)
                    accounts.Add(name, server, port, user, password, check);
            }
            converted = checkDialUp(program);
        }
        showLoaded(program, path);
        // The shipped profile is never saved over without asking for a name.
        program.SetProfileChanged(isShippedProfilePath(program, path) || converted);
    } catch (const TessalyError& e) {
        if (e.number() == err::Overflow) {
            program.LogActivity(QStringLiteral("Importing old file format"));
            LoadOldProfile(program, path);
            return;
        }
        reportLoadError(program, path, e);
    } catch (const std::exception& e) {
        program.Platform().prompter.messageBox(QString::fromLocal8Bit(e.what()), MsgButtons::OK);
        program.SetProfileLoadFailed(true);
    }
}

} // namespace tessaly
