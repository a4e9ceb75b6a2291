#include "features/remote/remotecommands.h"

#include "ground/remotetext.h"
#include "ground/textfmt.h"
#include "platform/shell.h"
#include "platform/sessioncontrol.h"
#include "state/appstate.h"
#include "state/livesettings.h"

#include <cmath>

namespace tessaly {

namespace {

// Keyword arguments ("paging", "update", "frequency", "computer") are
// matched without the blanks around them, so "stop: paging" works as
// "stop:paging" does. The password argument is compared as written.
QString keyword(const QString& argument) { return argument.trimmed().toLower(); }

} // namespace

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

void RemoteCommands::CheckRemoteMessage(const QString& subject, const QString& body) {
    accepted_ = false;
    invalidLogged_ = false;
    if (!IsRemoteSubject(subject))
        return;
    QString text = body;
    text.remove(QLatin1Char('\n'));
    const QStringList lines = text.split(QLatin1Char('\r'));
    for (const QString& line : lines) {
        if (ended_)
            return;
        ExecuteRemoteLine(line);
    }
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
        } else if (!invalidLogged_) {
            invalidLogged_ = true;
            log(QStringLiteral("Remote Command: Invalid Password"));
        }
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
        if (!accepted_)
            return;
        const bool ok = ctx_.shell && ctx_.shell->Open(r.argument1.trimmed());
        log((ok ? QStringLiteral("Remote Command: Running File ")
                : QStringLiteral("Remote Command: Failed to run file ")) +
            r.argument1);
    } else if (r.word == QLatin1String("shutdown")) {
        endSession(r, false);
    } else if (r.word == QLatin1String("reboot")) {
        endSession(r, true);
    } else if (!line.trimmed().isEmpty()) {
        log(QStringLiteral("Invalid remote command ") + line);
    }
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
