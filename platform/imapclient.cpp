#include "platform/imapclient.h"

#include "ground/sockerr.h"

#include <QMetaObject>
#include <algorithm>
#include <functional>

namespace tessaly {

using imap::Response;
using imap::Value;

// One command: its parts (the first follows the tag; each further one is
// sent once the server asked for it with "+", after a literal or for an
// AUTHENTICATE answer), how the terminal shows them, and its time limits.
struct ImapClient::Command {
    const char* what = "the command"; // for the reasons: "the login"
    QList<QByteArray> parts;
    QList<QString> shown;
    double deadline = 0; // seconds for the whole command; 0 or less: none
    // Set by onUntagged when a response brought a wanted message for the
    // first time: the deadline starts again (each message has its own).
    bool renewNow = false;
    bool endAtContinuation = false; // IDLE: done once the server says "+"
    bool bare = false;              // DONE: the line goes without a tag, awaiting `tag`'s answer
    // SASL: the answer sent (once) when the server challenges after the
    // last part, and that challenge's text.
    std::optional<QByteArray> challengeAnswer;
    std::optional<QByteArray> challenge;
    std::function<void(const Response&)> onUntagged;
    QByteArray tag;
    Response answer; // the tagged answer (or the continuation)

    Command(const char* w, const QByteArray& line, double seconds) : what(w), deadline(seconds) {
        parts.append(line);
        shown.append(QString::fromLatin1(line));
    }
    // Adds `bytes` as one string argument: quoted where it can be, else as
    // a literal (its bytes then go in a part of their own unless the server
    // takes literals without asking, LITERAL+).
    void AddString(const QByteArray& bytes, bool secret, bool literalPlus) {
        parts.last() += ' ';
        shown.last() += QLatin1Char(' ');
        if (const std::optional<QByteArray> quoted = imap::Quoted(bytes)) {
            parts.last() += *quoted;
            shown.last() += secret ? QStringLiteral("****") : QString::fromLatin1(*quoted);
            return;
        }
        const QByteArray announce = '{' + QByteArray::number(bytes.size()) + (literalPlus ? "+}" : "}");
        parts.last() += announce;
        shown.last() += QString::fromLatin1(announce);
        const QString text = secret ? QStringLiteral("****") : QString::fromUtf8(bytes);
        if (literalPlus) {
            parts.last() += "\r\n" + bytes;
            shown.last() += QLatin1Char(' ') + text;
        } else {
            parts.append(bytes);
            shown.append(text);
        }
    }
};

namespace {

// How much of a server's text goes into a reason.
constexpr qsizetype kReasonText = 200;

QString said(const QByteArray& text) { return QString::fromUtf8(text.left(kReasonText)).trimmed(); }

bool isNews(const Response& r) {
    return r.kind == Response::Kind::Untagged &&
           (r.status == "EXISTS" || r.status == "EXPUNGE" || r.status == "RECENT" || r.status == "FETCH");
}

} // namespace

ImapClient::ImapClient(EventPump& pump, LinkFactory& links, QObject* parent)
    : QObject(parent), pump_(pump), link_(pump, links) {
    reader_.SetLiteralLimit(headerLimit_);
    connect(&link_, &LinkSession::bytesArrived, this, [this] {
        if (idling_)
            onIdleBytes();
    });
    connect(&link_, &LinkSession::peerClosed, this, [this] {
        if (idling_) {
            // Whatever arrived before the close is still news.
            onIdleBytes();
            if (idling_)
                endIdle(sockerr::ConnectionReset);
        }
    });
    connect(&link_, &LinkSession::linkFailed, this, [this](int number) {
        if (idling_)
            endIdle(number);
    });
}

ImapClient::~ImapClient() = default;

QByteArray ImapClient::nextTag() { return "T" + QByteArray::number(++tagCounter_); }

bool ImapClient::Offers(const QByteArray& capability) const {
    const QByteArray wanted = capability.toUpper();
    return std::find(capabilities_.cbegin(), capabilities_.cend(), wanted) != capabilities_.cend();
}

void ImapClient::takeCapabilities(const QList<QByteArray>& words) {
    capabilities_.clear();
    for (const QByteArray& w : words)
        if (!w.isEmpty() && capabilities_.size() < 1000)
            capabilities_.append(w.toUpper());
}

void ImapClient::showReceived(const Response& response) {
    if (!response.shown.isEmpty())
        emit lineReceived(QString::fromUtf8(response.shown));
}

void ImapClient::Abort() {
    const bool wasOpen = link_.IsOpen();
    idling_ = false;
    link_.Abort();
    reader_.Reset();
    reader_.SetLiteralLimit(headerLimit_);
    loggedIn_ = false;
    if (wasOpen)
        emit socketClosed();
}

int ImapClient::fail(int number, const QString& reason) {
    lastFailure_ = reason;
    if (number > 0 || number == kUnreadable || number == kSecureFailed) {
        if (number > 0)
            emit error(number, sockerr::Text(number));
        Abort();
    }
    return number;
}

// What every untagged response says whatever command it came with.
void ImapClient::untagged(const Response& r) {
    if (r.code == "CAPABILITY")
        takeCapabilities(r.CodeWords());
    if (r.status == "CAPABILITY") {
        QList<QByteArray> words;
        for (const Value& v : r.data)
            if (v.kind == Value::Kind::Atom)
                words.append(v.text);
        takeCapabilities(words);
    } else if (r.status == "EXISTS") {
        mailbox_.exists = r.number;
    } else if (r.status == "RECENT") {
        mailbox_.recent = r.number;
    } else if (r.status == "EXPUNGE") {
        if (mailbox_.exists > 0)
            --mailbox_.exists;
    } else if (r.status == "OK") {
        const std::optional<quint64> n = r.CodeNumber();
        if (r.code == "UIDVALIDITY" && n && *n <= 0xffffffffu)
            mailbox_.uidValidity = static_cast<quint32>(*n);
        else if (r.code == "UIDNEXT" && n && *n <= 0xffffffffu)
            mailbox_.uidNext = static_cast<quint32>(*n);
        else if (r.code == "HIGHESTMODSEQ" && n)
            mailbox_.highestModSeq = *n;
    }
}

int ImapClient::run(Command& c) {
    if (!link_.IsOpen())
        return fail(sockerr::NotConnected, QStringLiteral("IMAP server %1:%2, %3: %4")
                                               .arg(host_.trimmed())
                                               .arg(port_)
                                               .arg(QLatin1String(c.what), sockerr::Text(sockerr::NotConnected)));
    if (c.tag.isEmpty())
        c.tag = nextTag();
    qint64 deadlineMs = c.deadline > 0 ? pump_.steadyMs() + static_cast<qint64>(c.deadline * 1000) : -1;
    auto socketFailure = [&](int number) {
        return fail(number, QStringLiteral("IMAP server %1:%2, %3: %4")
                                .arg(host_.trimmed())
                                .arg(port_)
                                .arg(QLatin1String(c.what), sockerr::Text(number)));
    };
    // Reads responses until the tagged answer (or, with `continuation`, a
    // "+"); 0 then, or a failure number.
    auto await = [&](bool continuation) -> int {
        for (;;) {
            std::optional<Response> got;
            const int waited = nextResponse(got, deadlineMs);
            if (waited != 0)
                return socketFailure(waited);
            const Response& r = *got;
            showReceived(r);
            switch (r.kind) {
            case Response::Kind::Unreadable:
                return fail(kUnreadable, QStringLiteral("IMAP server %1:%2 sent an unreadable response to %3 (%4)")
                                             .arg(host_.trimmed())
                                             .arg(port_)
                                             .arg(QLatin1String(c.what), said(r.text)));
            case Response::Kind::Untagged:
                untagged(r);
                if (c.onUntagged)
                    c.onUntagged(r);
                if (c.renewNow && c.deadline > 0)
                    deadlineMs = pump_.steadyMs() + static_cast<qint64>(c.deadline * 1000);
                c.renewNow = false;
                break;
            case Response::Kind::Continuation:
                if (continuation) {
                    c.answer = r;
                    return 0;
                }
                if (c.challengeAnswer && !c.challenge) {
                    c.challenge = r.text;
                    emit lineSent(QString::fromLatin1(*c.challengeAnswer));
                    if (const int written = link_.Write(*c.challengeAnswer + "\r\n"); written != 0)
                        return socketFailure(written);
                }
                break; // asked for nothing: passed over
            case Response::Kind::Tagged:
                if (r.tag == c.tag) {
                    c.answer = r;
                    if (r.code == "CAPABILITY")
                        takeCapabilities(r.CodeWords());
                    return 0;
                }
                break; // the answer to something long given up
            }
        }
    };
    for (qsizetype i = 0; i < c.parts.size(); ++i) {
        const bool first = i == 0 && !c.bare;
        emit lineSent(first ? QString::fromLatin1(c.tag) + QLatin1Char(' ') + c.shown[i] : c.shown[i]);
        const int written = link_.Write((first ? c.tag + ' ' : QByteArray()) + c.parts[i] + "\r\n");
        if (written != 0)
            return socketFailure(written);
        const bool last = i + 1 == c.parts.size();
        if (last && !c.endAtContinuation)
            break;
        const int waited = await(true);
        if (waited != 0)
            return waited;
        if (c.answer.kind == Response::Kind::Tagged)
            break; // refused before it was whole
        if (last)
            return 0; // the continuation was what the command waited for
    }
    if (c.answer.kind != Response::Kind::Tagged) {
        const int waited = await(false);
        if (waited != 0)
            return waited;
    }
    if (c.answer.status == "OK")
        return 0;
    lastFailure_ = QStringLiteral("IMAP server %1:%2 refused %3: %4 %5")
                       .arg(host_.trimmed())
                       .arg(port_)
                       .arg(QLatin1String(c.what), QString::fromLatin1(c.answer.status), said(c.answer.text));
    return kRefused;
}

int ImapClient::nextResponse(std::optional<imap::Response>& got, qint64 deadlineMs) {
    return link_.WaitFor(
        [&] {
            got = reader_.Next(link_.Buffer());
            return got.has_value();
        },
        timeout_, cancel_, deadlineMs);
}

int ImapClient::readGreeting() {
    const bool implicit = link_.Encrypted();
    const qint64 deadlineMs =
        commandDeadline_ > 0 ? pump_.steadyMs() + static_cast<qint64>(commandDeadline_ * 1000) : -1;
    std::optional<Response> got;
    const int waited = nextResponse(got, deadlineMs);
    if (waited != 0) {
        QString reason = QStringLiteral("No greeting from IMAP server %1:%2: %3")
                             .arg(host_.trimmed())
                             .arg(port_)
                             .arg(sockerr::Text(waited));
        if (waited == sockerr::TimedOut && !implicit)
            reason = SilentGreetingHint(host_.trimmed(), port_);
        return fail(waited, reason);
    }
    showReceived(*got);
    if (got->kind != Response::Kind::Untagged ||
        (got->status != "OK" && got->status != "PREAUTH" && got->status != "BYE"))
        return fail(kUnreadable,
                    QStringLiteral("IMAP server %1:%2 sent no IMAP greeting").arg(host_.trimmed()).arg(port_));
    if (got->status == "BYE")
        return fail(sockerr::ConnectionRefused, QStringLiteral("IMAP server %1:%2 turned the connection away: %3")
                                                    .arg(host_.trimmed())
                                                    .arg(port_)
                                                    .arg(said(got->text)));
    preauth_ = got->status == "PREAUTH";
    if (got->code == "CAPABILITY")
        takeCapabilities(got->CodeWords());
    return 0;
}

int ImapClient::askCapabilities() {
    Command c("CAPABILITY", "CAPABILITY", commandDeadline_);
    return run(c);
}

int ImapClient::startTls() {
    Command c("STARTTLS", "STARTTLS", commandDeadline_);
    const int result = run(c);
    if (result != 0)
        return result == kRefused ? fail(kSecureFailed, QStringLiteral("No secure connection to %1:%2: %3")
                                                            .arg(host_.trimmed())
                                                            .arg(port_)
                                                            .arg(lastFailure_))
                                  : result;
    // What the server said before the handshake no longer counts.
    capabilities_.clear();
    reader_.Reset();
    reader_.SetLiteralLimit(headerLimit_);
    if (link_.StartTls(host_.trimmed(), caFile_, timeout_, cancel_) != 0)
        return fail(kSecureFailed, QStringLiteral("No secure connection to %1:%2: %3")
                                       .arg(host_.trimmed())
                                       .arg(port_)
                                       .arg(ExplainTlsFailure(link_.SecureFailure())));
    return askCapabilities();
}

int ImapClient::Connect() {
    Abort();
    capabilities_.clear();
    mailbox_ = {};
    lastFailure_.clear();
    readInClear_ = false;
    preauth_ = false;
    tagCounter_ = 0;
    const QString host = host_.trimmed();
    const int opened = link_.Open(host, static_cast<quint16>(port_), timeout_, cancel_);
    if (opened != 0) {
        lastFailure_ =
            QStringLiteral("No connection to IMAP server %1:%2: %3").arg(host).arg(port_).arg(sockerr::Text(opened));
        emit error(opened, sockerr::Text(opened));
        return opened;
    }
    const bool implicit = ImplicitTls(security_, port_, kImapTlsPort);
    if (implicit && link_.StartTls(host, caFile_, timeout_, cancel_) != 0)
        return fail(kSecureFailed, QStringLiteral("No secure connection to %1:%2: %3")
                                       .arg(host)
                                       .arg(port_)
                                       .arg(ExplainTlsFailure(link_.SecureFailure())));
    int result = readGreeting();
    if (result == 0 && capabilities_.isEmpty())
        result = askCapabilities();
    if (result != 0 || implicit)
        return result;
    // STARTTLS is only allowed before the login; a PREAUTH greeting leaves
    // no way to encrypt.
    const bool offered = !preauth_ && Offers("STARTTLS");
    switch (UpgradeFor(security_, offered)) {
    case Upgrade::StartTls: return startTls();
    case Upgrade::Clear: return 0;
    case Upgrade::ClearNotice:
        readInClear_ = true;
        emit clearText();
        return 0;
    case Upgrade::Refuse:
        return fail(kSecureFailed, QStringLiteral("No secure connection to %1:%2: the server offers no STARTTLS, and "
                                                  "STARTTLS is required")
                                       .arg(host)
                                       .arg(port_));
    }
    return 0;
}

int ImapClient::Login(const QString& user, const QString& password) {
    if (preauth_) {
        loggedIn_ = true;
        return 0;
    }
    int result = 0;
    if (Offers("LOGINDISABLED")) {
        if (!Offers("AUTH=PLAIN"))
            return fail(
                kNotOffered,
                QStringLiteral("IMAP server %1:%2 allows no login on this connection").arg(host_.trimmed()).arg(port_));
        result = authenticatePlain(user, password);
    } else {
        Command c("the login", "LOGIN", commandDeadline_);
        const bool plus = Offers("LITERAL+");
        c.AddString(user.toUtf8(), false, plus);
        c.AddString(password.toUtf8(), true, plus);
        result = run(c);
    }
    if (result != 0)
        return result;
    loggedIn_ = true;
    // The login's answer usually brings the capabilities of the logged-in
    // state; otherwise they are asked for.
    return capabilities_.isEmpty() || !Offers("IMAP4REV1") ? askCapabilities() : 0;
}

int ImapClient::LoginOAuth(const QString& user, const sasl::BearerSource& bearer) {
    using namespace sasl;
    if (preauth_) {
        loggedIn_ = true;
        return 0;
    }
    QList<QByteArray> mechanisms;
    for (const QByteArray& c : capabilities_)
        if (c.startsWith("AUTH="))
            mechanisms << c.mid(5);
    const OAuthMechanism mechanism = ChooseOAuth(mechanisms);
    const QString where = QStringLiteral("IMAP server %1:%2").arg(host_.trimmed()).arg(port_);
    if (mechanism == OAuthMechanism::None)
        return fail(kNotOffered,
                    where + QStringLiteral(" offers no OAuth 2.0 sign-in (AUTH=OAUTHBEARER or AUTH=XOAUTH2)"));
    const QByteArray name = MechanismName(mechanism);
    for (int round = 0; round < 2; ++round) {
        const BearerToken got = bearer ? bearer(round > 0) : BearerToken{};
        if (got.token.isEmpty())
            return fail(kRefused, got.failure.isEmpty() ? QStringLiteral("no access token") : got.failure);
        const QByteArray response = InitialResponse(mechanism, user, got.token, host_, port_).toBase64();
        const QString shown = QStringLiteral("AUTHENTICATE ") + QString::fromLatin1(name);
        Command c("the sign-in", "AUTHENTICATE " + name, commandDeadline_);
        if (Offers("SASL-IR")) {
            c.parts.first() += ' ' + response;
            c.shown.first() = shown + QStringLiteral(" ****");
        } else {
            c.parts.append(response);
            c.shown.append(QStringLiteral("****"));
        }
        c.challengeAnswer = ErrorChallengeAnswer(mechanism).toBase64();
        const int result = run(c);
        if (result == 0) {
            loggedIn_ = true;
            return capabilities_.isEmpty() || !Offers("IMAP4REV1") ? askCapabilities() : 0;
        }
        if (result != kRefused)
            return result;
        const std::optional<OAuthRefusal> refusal =
            c.challenge ? ReadErrorChallenge(*c.challenge) : std::optional<OAuthRefusal>();
        lastFailure_ = where + QStringLiteral(" refused the access token (%1): %2 %3")
                                   .arg(refusal ? refusal->Text() : QStringLiteral("no reason given"),
                                        QString::fromLatin1(c.answer.status), said(c.answer.text));
        if (!refusal || !refusal->TokenRefused())
            return kRefused;
    }
    return kRefused;
}

int ImapClient::authenticatePlain(const QString& user, const QString& password) {
    const QByteArray blob = (QByteArray(1, '\0') + user.toUtf8() + QByteArray(1, '\0') + password.toUtf8()).toBase64();
    if (Offers("SASL-IR")) {
        Command c("the login", "AUTHENTICATE PLAIN " + blob, commandDeadline_);
        c.shown.first() = QStringLiteral("AUTHENTICATE PLAIN ****");
        return run(c);
    }
    Command c("the login", "AUTHENTICATE PLAIN", commandDeadline_);
    c.parts.append(blob);
    c.shown.append(QStringLiteral("****"));
    return run(c);
}

int ImapClient::Examine(const QString& folder) {
    const QString name = folder.isEmpty() ? QStringLiteral("INBOX") : folder;
    mailbox_ = {};
    mailbox_.name = name;
    Command c("EXAMINE", "EXAMINE " + MailboxArgument(name), commandDeadline_);
    const int result = run(c);
    if (result == 0)
        mailbox_.readOnly = c.answer.code == "READ-ONLY";
    return result;
}

int ImapClient::FetchUidsAndSizes(QList<MessageInfo>& messages) {
    messages.clear();
    const qint64 exists = mailbox_.exists;
    if (exists <= 0)
        return 0;
    QHash<qint64, MessageInfo> seen;
    qint64 highest = 0;
    Command c("the message list", "FETCH 1:* (UID RFC822.SIZE)", std::max(commandDeadline_, downloadDeadline_));
    c.onUntagged = [&](const Response& r) {
        if (r.status != "FETCH" || r.number < 1 || r.number > exists || r.number > kMaxMessages)
            return;
        const auto items = imap::FetchItems(r);
        MessageInfo info = seen.value(r.number);
        if (const Value* uid = imap::FetchItem(items, "UID");
            uid && uid->kind == Value::Kind::Number && uid->number > 0 && uid->number <= 0xffffffffu)
            info.uid = static_cast<quint32>(uid->number);
        if (const Value* size = imap::FetchItem(items, "RFC822.SIZE");
            size && size->kind == Value::Kind::Number && size->number <= 0x7fffffffu)
            info.size = static_cast<qint64>(size->number);
        seen.insert(r.number, info);
        highest = std::max(highest, r.number);
    };
    const int result = run(c);
    // Numbers up to the highest one answered: a count the server claims but
    // never lists takes no memory.
    messages.reserve(static_cast<qsizetype>(highest));
    for (qint64 n = 1; n <= highest; ++n)
        messages.append(seen.value(n));
    return result;
}

int ImapClient::fetchBodies(const QList<quint32>& uids, const QByteArray& section, qint64 limit, double deadline,
                            QHash<quint32, Fetched>& out) {
    if (uids.isEmpty())
        return 0;
    const QSet<quint32> wanted(uids.cbegin(), uids.cend());
    const QByteArray item = "BODY[" + section + "]";
    Command c(section.isEmpty() ? "the message download" : "the header request",
              "UID FETCH " + UidSet(uids) + " (UID BODY.PEEK[" + section + "])", deadline);
    c.onUntagged = [&](const Response& r) {
        if (r.status != "FETCH")
            return;
        const auto items = imap::FetchItems(r);
        const Value* uid = imap::FetchItem(items, "UID");
        const Value* body = imap::FetchItem(items, item.constData());
        if (!uid || uid->kind != Value::Kind::Number || !body || body->kind != Value::Kind::String)
            return;
        if (uid->number > 0xffffffffu || !wanted.contains(static_cast<quint32>(uid->number)))
            return;
        const quint32 key = static_cast<quint32>(uid->number);
        c.renewNow = !out.contains(key);
        Fetched f;
        f.tooBig = body->tooBig || body->text.size() > limit;
        f.size = body->literal ? body->size : body->text.size();
        if (!f.tooBig)
            f.text = body->text;
        out.insert(key, std::move(f));
    };
    reader_.SetLiteralLimit(limit);
    const int result = run(c);
    reader_.SetLiteralLimit(headerLimit_);
    return result;
}

int ImapClient::FetchHeaders(const QList<quint32>& uids, QHash<quint32, Fetched>& out) {
    return fetchBodies(uids, "HEADER", headerLimit_, commandDeadline_, out);
}

int ImapClient::FetchMessages(const QList<quint32>& uids, QHash<quint32, Fetched>& out) {
    return fetchBodies(uids, QByteArray(), messageLimit_, downloadDeadline_, out);
}

int ImapClient::FetchFlags(const QList<quint32>& uids, QHash<quint32, QList<QByteArray>>& flags) {
    if (uids.isEmpty())
        return 0;
    Command c("the flags request", "UID FETCH " + UidSet(uids) + " (UID FLAGS)", commandDeadline_);
    c.onUntagged = [&](const Response& r) {
        const auto items = imap::FetchItems(r);
        const Value* uid = imap::FetchItem(items, "UID");
        const Value* list = imap::FetchItem(items, "FLAGS");
        if (!uid || uid->kind != Value::Kind::Number || uid->number > 0xffffffffu || !list ||
            list->kind != Value::Kind::List)
            return;
        QList<QByteArray> words;
        for (const Value& v : list->items)
            if (v.kind == Value::Kind::Atom)
                words << v.text.toUpper();
        flags.insert(static_cast<quint32>(uid->number), words);
    };
    return run(c);
}

int ImapClient::Noop() {
    Command c("NOOP", "NOOP", commandDeadline_);
    return run(c);
}

int ImapClient::StartIdle() {
    if (idling_)
        return 0;
    if (!Offers("IDLE"))
        return fail(kNotOffered,
                    QStringLiteral("IMAP server %1:%2 does not offer IDLE").arg(host_.trimmed()).arg(port_));
    Command c("IDLE", "IDLE", commandDeadline_);
    c.endAtContinuation = true;
    bool news = false;
    c.onUntagged = [&](const Response& r) { news = news || isNews(r); };
    const int result = run(c);
    if (news)
        newsLater();
    if (result != 0)
        return result;
    if (c.answer.kind == Response::Kind::Tagged) {
        // Ended at once with OK: nothing to idle on.
        lastFailure_ = QStringLiteral("IMAP server %1:%2 ended IDLE at once: %3")
                           .arg(host_.trimmed())
                           .arg(port_)
                           .arg(said(c.answer.text));
        return kRefused;
    }
    idleTag_ = c.tag;
    idling_ = true;
    // Responses that came along with the "+" are read once the caller is
    // back in the event loop.
    if (!link_.Buffer().isEmpty())
        QMetaObject::invokeMethod(
            this, [this] { onIdleBytes(); }, Qt::QueuedConnection);
    return 0;
}

void ImapClient::onIdleBytes() {
    if (!idling_)
        return;
    bool news = false;
    int ended = 0;
    bool end = false;
    while (std::optional<Response> r = reader_.Next(link_.Buffer())) {
        showReceived(*r);
        if (r->kind == Response::Kind::Unreadable) {
            lastFailure_ = QStringLiteral("IMAP server %1:%2 sent an unreadable response while idling (%3)")
                               .arg(host_.trimmed())
                               .arg(port_)
                               .arg(said(r->text));
            ended = kUnreadable;
            end = true;
            break;
        }
        if (r->kind == Response::Kind::Untagged) {
            untagged(*r);
            news = news || isNews(*r);
            if (r->status == "BYE") {
                lastFailure_ = QStringLiteral("IMAP server %1:%2 ended the connection: %3")
                                   .arg(host_.trimmed())
                                   .arg(port_)
                                   .arg(said(r->text));
                ended = kUnreadable;
                end = true;
                break;
            }
        } else if (r->kind == Response::Kind::Tagged && r->tag == idleTag_) {
            lastFailure_ = QStringLiteral("IMAP server %1:%2 ended IDLE: %3 %4")
                               .arg(host_.trimmed())
                               .arg(port_)
                               .arg(QString::fromLatin1(r->status), said(r->text));
            ended = kRefused;
            end = true;
            break;
        }
    }
    if (news)
        emit idleNews();
    if (end && idling_)
        endIdle(ended);
}

void ImapClient::endIdle(int error) {
    idling_ = false;
    if (error != kRefused) {
        if (error > 0)
            lastFailure_ = QStringLiteral("IMAP server %1:%2 while idling: %3")
                               .arg(host_.trimmed())
                               .arg(port_)
                               .arg(sockerr::Text(error));
        Abort();
    }
    emit idleEnded(error);
}

int ImapClient::StopIdle() {
    if (!idling_)
        return link_.IsOpen() ? 0 : sockerr::NotConnected;
    idling_ = false;
    // DONE ends the IDLE command, whose own tagged answer is awaited.
    Command c("DONE", "DONE", commandDeadline_);
    c.tag = idleTag_;
    c.bare = true;
    // News that crossed the DONE on its way is news all the same: a watcher
    // that renews its IDLE must not miss it.
    bool news = false;
    c.onUntagged = [&](const Response& r) { news = news || isNews(r); };
    const int result = run(c);
    if (news)
        newsLater();
    return result;
}

void ImapClient::newsLater() {
    QMetaObject::invokeMethod(
        this, [this] { emit idleNews(); }, Qt::QueuedConnection);
}

int ImapClient::Logout() {
    if (!link_.IsOpen()) {
        Abort();
        return sockerr::NotConnected;
    }
    if (idling_)
        StopIdle();
    bool bye = false;
    Command c("LOGOUT", "LOGOUT", commandDeadline_);
    c.onUntagged = [&](const Response& r) { bye = bye || r.status == "BYE"; };
    int result = link_.IsOpen() ? run(c) : sockerr::NotConnected;
    // A server that closes right after its BYE has logged out all the same.
    if (bye && result > 0)
        result = 0;
    Abort();
    return result;
}

QByteArray ImapClient::UidSet(QList<quint32> uids) {
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    QByteArray out;
    qsizetype i = 0;
    while (i < uids.size()) {
        qsizetype j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1)
            ++j;
        if (!out.isEmpty())
            out += ',';
        out += QByteArray::number(uids[i]);
        if (j > i)
            out += ':' + QByteArray::number(uids[j]);
        i = j + 1;
    }
    return out;
}

QByteArray ImapClient::ModifiedUtf7(const QString& name) {
    QByteArray out;
    QByteArray run; // UTF-16 big-endian bytes of the characters beyond ASCII
    auto flush = [&] {
        if (run.isEmpty())
            return;
        QByteArray b64 = run.toBase64(QByteArray::OmitTrailingEquals);
        b64.replace('/', ',');
        out += '&' + b64 + '-';
        run.clear();
    };
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u <= 0x7e) {
            flush();
            out += u == '&' ? QByteArray("&-") : QByteArray(1, static_cast<char>(u));
        } else {
            run += static_cast<char>(u >> 8);
            run += static_cast<char>(u & 0xff);
        }
    }
    flush();
    return out;
}

QByteArray ImapClient::MailboxArgument(const QString& name) {
    // Modified UTF-7 is printable ASCII, so it can always be quoted.
    return imap::Quoted(ModifiedUtf7(name)).value_or(QByteArray("\"\""));
}

} // namespace tessaly
