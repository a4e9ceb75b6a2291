#include "tests/fakes/imapscript.h"

#include <algorithm>

namespace tessaly {

void ImapServer::deliver(const QByteArray& text, const QString& folder) {
    folders[folder].append(Message{nextUid++, text, false});
    if (onDeliver)
        onDeliver(folder);
}

namespace {

// The header of a message: up to and including its first empty line.
QByteArray headerOf(const QByteArray& text) {
    const qsizetype blank = text.indexOf("\r\n\r\n");
    return blank < 0 ? text : text.left(blank + 4);
}

QByteArray literal(const QByteArray& bytes) { return '{' + QByteArray::number(bytes.size()) + "}\r\n" + bytes; }

// "1:5,9" or "3:*" as the numbers it names among 1..highest.
QList<quint32> numbersIn(const QByteArray& set, quint32 highest) {
    QList<quint32> out;
    for (const QByteArray& part : set.split(',')) {
        const qsizetype colon = part.indexOf(':');
        auto num = [&](const QByteArray& t) { return t == "*" ? highest : t.toUInt(); };
        const quint32 a = num(colon < 0 ? part : part.left(colon));
        const quint32 b = colon < 0 ? a : num(part.mid(colon + 1));
        for (quint32 n = std::min(a, b); n <= std::max(a, b) && n <= highest && n != 0; ++n)
            out << n;
    }
    return out;
}

class ImapScript : public ServerScript {
public:
    explicit ImapScript(std::shared_ptr<ImapServer> s) : s_(std::move(s)) {}
    ~ImapScript() override {
        if (s_->onDeliver && owner_)
            s_->onDeliver = {};
    }

    void connected(ServerEnd& end) override {
        end_ = &end;
        owner_ = true;
        s_->onDeliver = [this](const QString& folder) {
            if (end_ && end_->isOpen() && s_->idling && folder == folder_)
                send("* " + QByteArray::number(s_->folders.value(folder_).size()) + " EXISTS\r\n");
        };
        if (s_->silent)
            return;
        QByteArray greeting = s_->greeting;
        if (s_->capabilityInGreeting && greeting.startsWith("* OK "))
            greeting = "* OK [CAPABILITY " + capabilities() + "] " + greeting.mid(5);
        send(greeting + "\r\n");
    }

    void received(ServerEnd& end, const QByteArray& bytes) override {
        end_ = &end;
        pending_ += bytes;
        for (;;) {
            if (literalLeft_ > 0) {
                const qsizetype take = std::min<qsizetype>(literalLeft_, pending_.size());
                command_ += pending_.left(take);
                pending_.remove(0, take);
                literalLeft_ -= take;
                if (literalLeft_ > 0)
                    return;
                continue;
            }
            const qsizetype lf = pending_.indexOf('\n');
            if (lf < 0)
                return;
            QByteArray line = pending_.left(lf);
            pending_.remove(0, lf + 1);
            if (line.endsWith('\r'))
                line.chop(1);
            command_ += line;
            // A literal: its bytes follow (after "+" unless it is "{n+}").
            if (line.endsWith('}')) {
                const qsizetype open = line.lastIndexOf('{');
                QByteArray n = line.mid(open + 1, line.size() - open - 2);
                const bool plus = n.endsWith('+');
                if (plus)
                    n.chop(1);
                literalLeft_ = n.toLongLong();
                command_ += "\r\n";
                if (!plus && !s_->silent && !silenced_)
                    send("+ Ready for literal data\r\n");
                continue;
            }
            const QByteArray whole = command_;
            command_.clear();
            handle(whole);
            if (!end.isOpen())
                return;
        }
    }

private:
    QByteArray capabilities() const {
        QByteArray caps = "IMAP4rev1";
        if (s_->starttls && !end_->encrypted && !loggedIn_)
            caps += " STARTTLS";
        if (s_->loginDisabled && !loggedIn_)
            caps += " LOGINDISABLED AUTH=PLAIN";
        if (s_->idle)
            caps += " IDLE";
        if (s_->literalPlus)
            caps += " LITERAL+";
        return caps;
    }

    void send(const QByteArray& bytes) {
        if (s_->chunkSize <= 0) {
            end_->send(bytes, s_->replyDelay);
            return;
        }
        // Each delay counts from now; the pieces follow one another.
        double delay = s_->replyDelay;
        for (qsizetype i = 0; i < bytes.size(); i += s_->chunkSize, delay += s_->chunkDelay)
            end_->send(bytes.mid(i, s_->chunkSize), delay);
    }

    // Splits a command into its words: quoted strings unescaped, literals
    // ("{n}" CR LF bytes) as their bytes.
    static QList<QByteArray> words(const QByteArray& c) {
        QList<QByteArray> out;
        qsizetype i = 0;
        while (i < c.size()) {
            if (c[i] == ' ') {
                ++i;
                continue;
            }
            QByteArray w;
            if (c[i] == '"') {
                ++i;
                while (i < c.size() && c[i] != '"') {
                    if (c[i] == '\\')
                        ++i;
                    if (i < c.size())
                        w += c[i++];
                }
                ++i;
            } else if (c[i] == '{') {
                const qsizetype close = c.indexOf('}', i);
                QByteArray n = c.mid(i + 1, close - i - 1);
                if (n.endsWith('+'))
                    n.chop(1);
                const qsizetype size = n.toLongLong();
                w = c.mid(close + 3, size);
                i = close + 3 + size;
            } else if (c[i] == '(') {
                const qsizetype close = c.indexOf(')', i);
                w = c.mid(i, close < 0 ? -1 : close - i + 1);
                i = close < 0 ? c.size() : close + 1;
            } else {
                int bracket = 0;
                while (i < c.size() && (bracket > 0 || c[i] != ' ')) {
                    bracket += c[i] == '[' ? 1 : c[i] == ']' ? -1 : 0;
                    w += c[i++];
                }
            }
            out << w;
        }
        return out;
    }

    void answer(const QByteArray& tag, const QByteArray& text) { send(tag + ' ' + text + "\r\n"); }

    void handle(const QByteArray& command) {
        if (s_->idling) {
            // Only DONE ends IDLE.
            s_->commands << command;
            if (command.trimmed().toUpper() == "DONE") {
                s_->idling = false;
                answer(idleTag_, "OK IDLE terminated");
            }
            return;
        }
        const QList<QByteArray> w = words(command);
        s_->commands << command;
        const QByteArray tag = w.value(0);
        QByteArray verb = w.value(1).toUpper();
        qsizetype argAt = 2;
        if (verb == "UID") {
            verb += ' ' + w.value(2).toUpper();
            argAt = 3;
        }
        s_->verbs << verb;
        if (!s_->silentAfter.isEmpty() && verb == s_->silentAfter)
            silenced_ = true;
        if (silenced_ || s_->silent)
            return;
        if (!s_->dropAfter.isEmpty() && verb == s_->dropAfter) {
            end_->close(s_->replyDelay);
            return;
        }
        if (!s_->garbageFor.isEmpty() && verb == s_->garbageFor) {
            send(s_->garbage);
            return;
        }
        const QList<QByteArray> args = w.mid(argAt);
        if (verb == "CAPABILITY") {
            send("* CAPABILITY " + capabilities() + "\r\n");
            answer(tag, "OK CAPABILITY completed");
        } else if (verb == "NOOP") {
            answer(tag, "OK NOOP completed");
        } else if (verb == "STARTTLS") {
            answer(tag, "OK Begin TLS negotiation now");
        } else if (verb == "LOGIN") {
            login(tag, args.value(0), args.value(1));
        } else if (verb == "AUTHENTICATE") {
            // "AUTHENTICATE PLAIN" CR LF, "+", then the answer as a line
            // of its own, which received() hands over as a command.
            send("+ \r\n");
            authTag_ = tag;
        } else if (verb == "EXAMINE" || verb == "SELECT") {
            if (!loggedIn_) {
                answer(tag, "BAD Not logged in");
                return;
            }
            const QString name = QString::fromUtf8(args.value(0));
            const QString key = name.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0 ? QStringLiteral("INBOX")
                                                                                               : name;
            if (!s_->folders.contains(key)) {
                answer(tag, "NO Mailbox doesn't exist: " + args.value(0));
                return;
            }
            folder_ = key;
            const QList<ImapServer::Message>& box = s_->folders[key];
            const quint32 next = box.isEmpty() ? 1 : box.last().uid + 1;
            send("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n* " + QByteArray::number(box.size()) +
                 " EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY " + QByteArray::number(s_->uidValidity) +
                 "] UIDs valid\r\n* OK [UIDNEXT " + QByteArray::number(next) + "] Predicted next UID\r\n");
            answer(tag, verb == "EXAMINE" ? "OK [READ-ONLY] EXAMINE completed" : "OK [READ-WRITE] SELECT completed");
        } else if (verb == "FETCH" || verb == "UID FETCH") {
            fetch(tag, verb == "UID FETCH", args.value(0), args.mid(1).join(' ').toUpper());
        } else if (verb == "IDLE") {
            if (!s_->idle) {
                answer(tag, "BAD Unknown command");
                return;
            }
            s_->idling = true;
            idleTag_ = tag;
            send("+ idling\r\n");
        } else if (verb == "LOGOUT") {
            send("* BYE Logging out\r\n");
            answer(tag, "OK LOGOUT completed");
            end_->close(s_->replyDelay);
        } else if (!authTag_.isEmpty()) {
            // The AUTHENTICATE PLAIN answer: base64 of "\0user\0password".
            const QByteArray plain = QByteArray::fromBase64(command.trimmed());
            const QList<QByteArray> parts = plain.split('\0');
            const QByteArray t = authTag_;
            authTag_.clear();
            login(t, parts.value(1), parts.value(2));
        } else {
            answer(tag, "BAD Unknown command");
        }
    }

    void login(const QByteArray& tag, const QByteArray& user, const QByteArray& password) {
        if (user != s_->user || password != s_->password) {
            answer(tag, "NO [AUTHENTICATIONFAILED] Authentication failed.");
            return;
        }
        loggedIn_ = true;
        ++s_->logins;
        answer(tag, "OK [CAPABILITY " + capabilities() + "] Logged in");
    }

    void fetch(const QByteArray& tag, bool byUid, const QByteArray& set, const QByteArray& items) {
        QList<ImapServer::Message>& box = s_->folders[folder_];
        QList<qsizetype> indexes;
        if (byUid) {
            const quint32 top = box.isEmpty() ? 0 : box.last().uid;
            for (const quint32 uid : numbersIn(set, top))
                for (qsizetype i = 0; i < box.size(); ++i)
                    if (box[i].uid == uid)
                        indexes << i;
        } else {
            for (const quint32 n : numbersIn(set, static_cast<quint32>(box.size())))
                indexes << n - 1;
        }
        int sent = 0;
        for (const qsizetype i : indexes) {
            const bool drop = s_->dropAfterFetches >= 0 && sent >= s_->dropAfterFetches && items.contains("BODY");
            ImapServer::Message& m = box[i];
            QByteArray out = "* " + QByteArray::number(i + 1) + " FETCH (UID " + QByteArray::number(m.uid);
            if (items.contains("RFC822.SIZE"))
                out += " RFC822.SIZE " + QByteArray::number(m.text.size());
            if (items.contains("FLAGS"))
                out += m.seen ? " FLAGS (\\Seen)" : " FLAGS ()";
            if (items.contains("[HEADER]"))
                out += " BODY[HEADER] " + literal(headerOf(m.text));
            else if (items.contains("[]"))
                out += " BODY[] " + literal(m.text);
            if (items.contains("BODY[") && !items.contains("PEEK"))
                m.seen = true;
            if (drop) {
                // The line breaks in the middle of this message's answer.
                send(out.left(out.size() - 10));
                end_->close(s_->replyDelay);
                return;
            }
            send(out + ")\r\n");
            ++sent;
        }
        answer(tag, "OK FETCH completed");
    }

    std::shared_ptr<ImapServer> s_;
    ServerEnd* end_ = nullptr;
    bool owner_ = false;
    QByteArray pending_;
    QByteArray command_;
    qint64 literalLeft_ = 0;
    bool loggedIn_ = false;
    bool silenced_ = false;
    QString folder_ = QStringLiteral("INBOX");
    QByteArray idleTag_;
    QByteArray authTag_;
};

} // namespace

std::unique_ptr<ServerScript> makeImapScript(std::shared_ptr<ImapServer> server) {
    return std::make_unique<ImapScript>(std::move(server));
}

} // namespace tessaly
