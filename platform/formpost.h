#pragma once
// One HTTP/1.1 POST of an application/x-www-form-urlencoded body, as token
// endpoints take them, and the answer read back in full. An "https://" URL
// speaks TLS from the first byte; plain "http://" goes only to this machine
// (127.0.0.1, ::1, localhost), so that no token or secret crosses a network
// in clear. The answer is bounded (16 KiB of header, 64 KiB of body) and the
// whole exchange has one deadline; every wait sleeps in the EventPump.

#include "platform/bytelink.h"
#include "platform/eventpump.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tessaly {

struct FormField {
    QString name;
    QString value;
    bool secret = false; // shown as "****" in FormPost::Shown()
};

struct FormPost {
    QString url;
    QList<FormField> fields;
    // HTTP Basic client authentication when the user is not empty (both
    // parts form-encoded first, as token endpoints expect).
    QString basicUser;
    QString basicPassword;
    // PEM certificates trusted besides the system's; empty: system CAs only.
    QString caFile;
    double timeoutSeconds = 30;

    // "POST <url> name=value&..." with secret values and the Basic
    // password left out, for a traffic window.
    QString Shown() const;
};

struct FormPostResult {
    int error = 0;  // 0, or the socket error number behind the failure
    int status = 0; // the HTTP status, 0 when none was read
    QByteArray body;
    QString failure; // empty when an answer was read in full
    bool ok() const { return failure.isEmpty(); }
};

// The fields as a form body: names and values percent-encoded, "&" between.
QByteArray FormEncode(const QList<FormField>& fields);
// True for 127.0.0.0/8, ::1 and "localhost" (any letter case).
bool IsLoopbackHost(const QString& host);
// Why this URL may not carry a token request (not absolute, neither https
// nor http to this machine, user name or fragment in it); empty when fine.
QString FormPostUrlProblem(const QString& url);

constexpr qsizetype kFormPostMaxHeader = 16 * 1024;
constexpr qsizetype kFormPostMaxBody = 64 * 1024;

// Reads an HTTP/1.x answer from the bytes received so far. `closed` says the
// server has closed the connection (the end of a body without length).
// Interim 1xx answers are passed over. Done with `status` and `body` set;
// Bad with `problem` saying why; NeedMore when the answer is not yet whole.
enum class HttpRead { NeedMore, Done, Bad };
HttpRead ReadHttpAnswer(const QByteArray& bytes, bool closed, int& status, QByteArray& body, QString& problem);

// Sends the request and waits for the whole answer (any status). `cancel`
// may be null.
FormPostResult PostForm(EventPump& pump, LinkFactory& links, const FormPost& request, const bool* cancel);

} // namespace tessaly
