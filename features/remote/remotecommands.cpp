#include "features/remote/remotecommands.h"

#include "features/remote/remoteguard.h"
#include "ground/remotetext.h"
#include "ground/textfmt.h"
#include "platform/eventpump.h"
#include "platform/shell.h"
#include "platform/sessioncontrol.h"
#include "state/appstate.h"
#include "state/livesettings.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cmath>

namespace tessaly {

namespace {

// Keyword arguments ("paging", "update", "frequency", "computer") are
// matched without the blanks around them, so "stop: paging" works as
// "stop:paging" does. The password argument is compared as written.
QString keyword(const QString& argument) { return argument.trimmed().toLower(); }

// Text from the mail, fit for one log line.
QString shown(const QString& text) {
    QString out = text.left(120);
    for (QChar& c : out)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    return text.size() > out.size() ? out + QStringLiteral("...") : out;
}

const QString kPre = QStringLiteral("Remote Command: ");

// The values of every `name:` field of a header block, folded lines joined.
QStringList fieldValues(const QString& header, const QString& name) {
    QStringList values;
    QString text = header.left(256 * 1024);
    text.remove(QLatin1Char('\r'));
    bool inField = false;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (inField && !line.isEmpty() && (line[0] == QLatin1Char(' ') || line[0] == QLatin1Char('\t'))) {
            values.last() += QLatin1Char(' ') + line.trimmed();
            continue;
        }
        inField = false;
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0 &&
            !line.left(colon).contains(QLatin1Char(' '))) {
            values << line.mid(colon + 1).trimmed();
            inField = true;
        }
    }
    return values;
}

} // namespace

RemoteMail RemoteMailOf(const QString& subject, const QString& header, const QString& commands,
                        MailTransport transport) {
    // Two From or Date fields leave the message without a readable one.
    const QStringList from = fieldValues(header, QStringLiteral("From"));
    const QStringList date = fieldValues(header, QStringLiteral("Date"));
    return RemoteMail{subject, from.join(QStringLiteral(", ")), date.size() == 1 ? date.first() : QString(), commands,
                      transport};
}

RunTarget ResolveRunTarget(const QString& argument, const QString& folder) {
    const QString name = argument.trimmed();
    if (folder.trimmed().isEmpty())
        return {{}, QStringLiteral("run is off; name a run folder under Options, Remote Control")};
    // "http://...", "file:/...", "mailto:...": a scheme before a colon.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    if (name.contains(QLatin1String("://")) || scheme.match(name).hasMatch())
        return {{}, QStringLiteral("run opens files only, no web addresses or other URLs")};
    if (name.isEmpty())
        return {{}, QStringLiteral("no file is named")};
    const QString base = QFileInfo(folder.trimmed()).canonicalFilePath();
    if (base.isEmpty() || !QFileInfo(base).isDir())
        return {{}, QStringLiteral("the run folder %1 does not exist").arg(shown(folder))};
    // Relative names are taken in the run folder; links and ".." are
    // resolved before the test.
    const QFileInfo info(QDir(base).absoluteFilePath(name));
    const QString path = info.canonicalFilePath();
    if (path.isEmpty())
        return {{}, QStringLiteral("there is no such file")};
    if (!path.startsWith(base + QLatin1Char('/')))
        return {{}, QStringLiteral("the file is not inside the run folder %1").arg(base)};
    if (!QFileInfo(path).isFile())
        return {{}, QStringLiteral("it is not a file")};
    return {path, {}};
}

RemoteLine ParseRemoteLine(const QString& line) {
    RemoteLine r;
    const qsizetype colon = line.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        r.word = line.trimmed().toLower();
        return r;
    }
    r.word = line.left(colon).trimmed().toLower();
    const qsizetype comma = line.indexOf(QLatin1Char(','), colon + 1);
    if (comma < 0) {
        r.argument1 = line.mid(colon + 1);
    } else {
        r.argument1 = line.mid(colon + 1, comma - colon - 1).trimmed();
        r.argument2 = line.mid(comma + 1);
    }
    return r;
}

RemoteCommands::RemoteCommands(RemoteContext ctx) : ctx_(std::move(ctx)) {}

bool RemoteCommands::IsRemoteSubject(const QString& subject) { return subject.trimmed().toLower() == kMarker; }

void RemoteCommands::log(const QString& text) {
    // Lines that echo the mail never carry the password.
    ctx_.activity.LogActivity(HideRemotePassword(text, ctx_.settings.remotePassword));
}

QString RemoteCommands::RefusalText(const QDateTime& until) {
    return QStringLiteral("remote commands are refused until %1 after repeated wrong passwords")
        .arg(until.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

std::optional<QDateTime> RemoteCommands::RefusedUntil() const {
    RemoteGuard guard(ctx_.statePath);
    QString why;
    if (ctx_.statePath.isEmpty() || !guard.Load(&why))
        return std::nullopt;
    return guard.RefusedUntil(ctx_.pump.now());
}

QString RemoteCommands::refusal(const RemoteMail& mail, const QString& sender, RemoteGuard& guard) {
    const LiveSettings& s = ctx_.settings;
    if (s.remotePassword.isEmpty())
        return QStringLiteral("remote control stays off while the remote command password is empty");
    const RemoteSafety safety = ctx_.store ? LoadRemoteSafety(*ctx_.store) : RemoteSafety{};
    if (safety.allowedSenders.isEmpty())
        return QStringLiteral("remote control stays off while no allowed sender is named");
    if (sender.isEmpty() || !safety.allowedSenders.contains(sender))
        return QStringLiteral("not an allowed sender");
    if (mail.transport != MailTransport::Tls && mail.transport != MailTransport::ClearChosen)
        return QStringLiteral("its mailbox was read without TLS");
    QString why;
    if (ctx_.statePath.isEmpty())
        return QStringLiteral("there is no remote state file");
    if (!guard.Load(&why))
        return QStringLiteral("the remote state file cannot be used: ") + why;
    const QDateTime now = ctx_.pump.now();
    guard.Prune(now);
    if (const auto until = guard.RefusedUntil(now)) {
        if (ctx_.showStatus)
            ctx_.showStatus(kPre + RefusalText(*until));
        return RefusalText(*until);
    }
    const QDateTime dated = ParseMailDate(mail.date);
    if (!dated.isValid())
        return QStringLiteral("it has no readable Date");
    const qint64 age = dated.secsTo(now);
    if (age > RemoteGuard::kMaxAgeSecs)
        return QStringLiteral("it is dated more than 24 hours ago");
    if (age < -RemoteGuard::kMaxAheadSecs)
        return QStringLiteral("it is dated more than 10 minutes ahead");
    const QByteArray digest = RemoteGuard::Digest(sender, dated, mail.commands);
    if (guard.Seen(digest))
        return QStringLiteral("the same commands were examined before");
    // Written before any command runs: a "quit" or a shutdown cannot make
    // the message run again.
    guard.Remember(digest, dated);
    if (!guard.Save(&why))
        return QStringLiteral("the remote state file cannot be written: ") + why;
    return {};
}

void RemoteCommands::noteFailure(RemoteGuard& guard) {
    const QDateTime now = ctx_.pump.now();
    const bool closes = guard.NoteFailure(now);
    QString why;
    if (!guard.Save(&why))
        log(kPre + QStringLiteral("the remote state file cannot be written: ") + why);
    if (!closes)
        return;
    const QString text = kPre + QStringLiteral("%1 command messages with wrong passwords within an hour; %2")
                                    .arg(RemoteGuard::kFailingMessages)
                                    .arg(RefusalText(*guard.RefusedUntil(now)));
    log(text);
    if (ctx_.showStatus)
        ctx_.showStatus(text);
}

void RemoteCommands::CheckRemoteMessage(const RemoteMail& mail) {
    accepted_ = false;
    wrongLines_ = 0;
    // A message without commands (one whose body was not downloaded) asks
    // for nothing, and is not worth a line at every check.
    if (!IsRemoteSubject(mail.subject) || mail.commands.trimmed().isEmpty())
        return;
    const QString sender = SenderAddress(mail.from);
    RemoteGuard guard(ctx_.statePath);
    if (const QString why = refusal(mail, sender, guard); !why.isEmpty()) {
        const QString who = sender.isEmpty() ? QStringLiteral("\"%1\"").arg(shown(mail.from)) : sender;
        log(kPre + QStringLiteral("Ignored a command message from %1: %2").arg(who, why));
        return;
    }
    if (mail.transport == MailTransport::ClearChosen)
        log(kPre + QStringLiteral("The command message from %1 was read without TLS, as the account's "
                                  "security \"none\" allows")
                       .arg(sender));
    QString text = mail.commands;
    text.remove(QLatin1Char('\n'));
    const QStringList lines = text.split(QLatin1Char('\r'));
    try {
        for (const QString& line : lines) {
            if (ended_ || wrongLines_ >= RemoteGuard::kWrongLinesPerMessage)
                break;
            ExecuteRemoteLine(line);
        }
    } catch (...) {
        if (wrongLines_ > 0)
            noteFailure(guard);
        throw;
    }
    if (wrongLines_ > 0)
        noteFailure(guard);
}

bool RemoteCommands::passwordMatches(const QString& argument) const {
    // The stored password as typed, or the argument in lower case (which is
    // how a password of small letters was always matched).
    const QString& stored = ctx_.settings.remotePassword;
    return argument == stored || argument.toLower() == stored;
}

void RemoteCommands::ExecuteRemoteLine(const QString& line) {
    if (ended_)
        return;
    const RemoteLine r = ParseRemoteLine(line);
    LiveSettings& s = ctx_.settings;
    if (r.word == QLatin1String("password")) {
        accepted_ = passwordMatches(r.argument1);
        if (accepted_) {
            log(QStringLiteral("Remote Command: Password Accepted"));
            return;
        }
        log(QStringLiteral("Remote Command: Invalid Password"));
        if (++wrongLines_ == RemoteGuard::kWrongLinesPerMessage)
            log(kPre + QStringLiteral("%1 wrong passwords; the rest of the message is ignored")
                           .arg(RemoteGuard::kWrongLinesPerMessage));
    } else if (r.word == QLatin1String("stop") || r.word == QLatin1String("start")) {
        if (!accepted_)
            return;
        const bool on = r.word == QLatin1String("start");
        const QString what = keyword(r.argument1);
        if (what == QLatin1String("update")) {
            s.scheduleEnabled = on;
            log(on ? QStringLiteral("Remote Command: Schedule Enabled")
                   : QStringLiteral("Remote Command: Schedule Disabled"));
        } else if (what == QLatin1String("paging")) {
            s.pagingEnabled = on;
            log(on ? QStringLiteral("Remote Command: Paging Enabled")
                   : QStringLiteral("Remote Command: Paging Disabled"));
        }
    } else if (r.word == QLatin1String("change")) {
        if (!accepted_ || keyword(r.argument1) != QLatin1String("frequency"))
            return;
        const double value = leadingNumber(r.argument2);
        // More than 5 minutes, and no more than the interval field holds.
        if (std::isfinite(value) && value > 5 && value < 32767.5) {
            s.checkInterval = roundToInt16(value);
            log(QStringLiteral("Remote Command: Frequency Changed to ") + QString::number(value, 'g', 15));
        } else {
            log(QStringLiteral("Remote Command: Invalid Frequency Change"));
        }
    } else if (r.word == QLatin1String("save")) {
        if (!accepted_)
            return;
        ctx_.saveProfile();
        log(QStringLiteral("Remote Command: File Saved"));
    } else if (r.word == QLatin1String("quit")) {
        if (!accepted_)
            return;
        ended_ = true;
        ctx_.quit();
    } else if (r.word == QLatin1String("run")) {
        if (accepted_)
            run(r);
    } else if (r.word == QLatin1String("shutdown")) {
        endSession(r, false);
    } else if (r.word == QLatin1String("reboot")) {
        endSession(r, true);
    } else if (!line.trimmed().isEmpty()) {
        log(QStringLiteral("Invalid remote command ") + line);
    }
}

void RemoteCommands::run(const RemoteLine& line) {
    const RunTarget target =
        ResolveRunTarget(line.argument1, ctx_.store ? LoadRemoteSafety(*ctx_.store).runFolder : QString());
    const bool ok = !target.path.isEmpty() && ctx_.shell && ctx_.shell->Open(target.path);
    log((ok ? QStringLiteral("Remote Command: Running File ") : QStringLiteral("Remote Command: Failed to run file ")) +
        shown(line.argument1));
    if (!target.refusal.isEmpty())
        log(kPre + target.refusal);
}

void RemoteCommands::endSession(const RemoteLine& line, bool restart) {
    if (keyword(line.argument1) != QLatin1String("computer")) {
        log(restart ? QStringLiteral("Remote Command: Invalid Reboot Command")
                    : QStringLiteral("Remote Command: Invalid Shutdown Command"));
        return;
    }
    if (!accepted_)
        return;
    std::unique_ptr<CountdownView> view = ctx_.countdownView ? ctx_.countdownView() : nullptr;
    if (!view)
        view = std::make_unique<ConsoleCountdownView>();
    if (!ShutdownCountdown::Run(ctx_.pump, *view, restart))
        return;
    if (ctx_.beforeSessionEnds)
        ctx_.beforeSessionEnds();
    const QString refusal = ctx_.session ? ctx_.session->EndSession(restart ? SessionControl::Ending::Reboot
                                                                            : SessionControl::Ending::PowerOff)
                                         : QStringLiteral("this program has no way to end the session");
    log(restart ? QStringLiteral("Remote Command: Rebooting Computer")
                : QStringLiteral("Remote Command: Shutdown Computer"));
    if (!refusal.isEmpty()) {
        // The computer keeps running, and so does the program.
        log(QStringLiteral("Remote Command: The system refused to %1 the computer: %2")
                .arg(restart ? QStringLiteral("restart") : QStringLiteral("shut down"), refusal));
        return;
    }
    ended_ = true;
    ctx_.quit();
}

} // namespace tessaly
