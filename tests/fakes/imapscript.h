#pragma once
// A scripted IMAP4rev1 server on the virtual clock, for the IMAP client's and
// reader's tests. It serves folders of messages with UIDs, answers the
// commands the client sends (CAPABILITY, STARTTLS, LOGIN, AUTHENTICATE PLAIN,
// EXAMINE, SELECT, FETCH, UID FETCH, NOOP, IDLE, LOGOUT), keeps every command
// line, marks a message \Seen when its text is fetched without PEEK, and can
// refuse, stall or drop at a chosen point.

#include "tests/fakes/scriptednet.h"

#include <QMap>

namespace tessaly {

struct ImapServer {
    struct Message {
        quint32 uid = 0;
        QByteArray text; // CR LF line ends
        bool seen = false;
    };
    QByteArray user = "user";
    QByteArray password = "secret";
    QMap<QString, QList<Message>> folders; // INBOX and others
    quint32 uidValidity = 7;

    QByteArray greeting = "* OK Scripted IMAP ready";
    bool capabilityInGreeting = true;
    bool starttls = true;       // offer STARTTLS before the login
    bool idle = true;           // offer IDLE
    bool loginDisabled = false; // LOGINDISABLED with AUTH=PLAIN
    bool literalPlus = false;   // offer LITERAL+
    double replyDelay = 0.1;
    int chunkSize = 0;       // > 0: answers go out in pieces this long, chunkDelay apart
    double chunkDelay = 0.01;
    bool silent = false;     // accepts the connection, never answers
    // From this command on (its verb, "UID FETCH" for UID commands) nothing
    // is answered.
    QByteArray silentAfter;
    // In the answer to a fetch of headers or message text, the line drops
    // in the middle of the FETCH response after this many whole ones
    // (negative: never).
    int dropAfterFetches = -1;
    // When set, the line drops after this command (its verb) instead of an answer.
    QByteArray dropAfter;
    // Bytes sent instead of the answer to this verb (to test unreadable answers).
    QByteArray garbageFor;
    QByteArray garbage;

    // Every command line received, without its CR LF, tag included.
    QList<QByteArray> commands;
    // The verbs received ("LOGIN", "UID FETCH", ...), in order.
    QList<QByteArray> verbs;
    bool idling = false;
    int logins = 0;

    // Adds a message to `folder` with the next UID; an idling connection
    // hears of it at once ("* n EXISTS").
    void deliver(const QByteArray& text, const QString& folder = QStringLiteral("INBOX"));
    quint32 nextUid = 1;
    std::function<void(const QString& folder)> onDeliver; // set by the script
};
std::unique_ptr<ServerScript> makeImapScript(std::shared_ptr<ImapServer> server);

} // namespace tessaly
