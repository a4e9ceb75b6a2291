#include "tests/fakes/scriptednet.h"

#include "ground/sockerr.h"

#include <QCryptographicHash>
#include <algorithm>

namespace tessaly {

class ScriptedLink : public ByteLink {
public:
    ScriptedLink(ScriptedNet& net) : net_(net) {}
    ~ScriptedLink() override { detach(); }

    void Open(const QString& host, quint16 port) override {
        detach();
        const double latency = net_.latency_;
        const QString key = host.toLower() + QLatin1Char(':') + QString::number(port);
        const bool known = net_.hosts_.contains(host, Qt::CaseInsensitive) &&
                           !host.endsWith(QLatin1String(".invalid"), Qt::CaseInsensitive);
        auto maker = net_.listeners_.value(key);
        auto alive = alive_;
        net_.pump_.schedule(latency, [this, alive, known, maker] {
            if (!*alive)
                return;
            if (!known || !maker) {
                emit failed(known ? sockerr::ConnectionRefused : sockerr::HostNotFound);
                return;
            }
            end_ = std::make_shared<ServerEnd>();
            end_->pump_ = &net_.pump_;
            end_->link_ = this;
            end_->latency_ = net_.latency_;
            end_->open_ = true;
            script_ = std::shared_ptr<ServerScript>(maker());
            net_.ends_ << end_;
            net_.scripts_ << script_;
            emit opened();
            script_->connected(*end_);
        });
    }

    int Write(const QByteArray& bytes) override {
        if (!IsOpen())
            return sockerr::NotConnected;
        auto end = end_;
        auto script = script_;
        end->received += bytes;
        net_.pump_.schedule(net_.latency_, [end, script, bytes] {
            if (end->isOpen())
                script->received(*end, bytes);
        });
        return 0;
    }

    bool StartTls(const QString& peerName, const QString&) override {
        if (!IsOpen())
            return false;
        auto end = end_;
        const bool trusted = !net_.untrusted_.contains(peerName, Qt::CaseInsensitive);
        auto alive = alive_;
        net_.pump_.schedule(2 * net_.latency_, [this, alive, end, trusted] {
            if (!*alive || !end->isOpen())
                return;
            if (!trusted) {
                detach();
                emit secureFailed(QStringLiteral("The certificate is self-signed, and untrusted"));
                return;
            }
            end->encrypted = true;
            emit encrypted();
        });
        return true;
    }

    QByteArray ReadAll() override { return std::exchange(inbox_, {}); }
    bool IsOpen() const override { return end_ && end_->open_; }
    void Abort() override { detach(); }

    void deliver(const QByteArray& bytes) {
        inbox_ += bytes;
        emit bytesArrived();
    }
    void peerClosed() { emit closed(); }

private:
    void detach() {
        *alive_ = false;
        alive_ = std::make_shared<bool>(true);
        if (end_) {
            end_->open_ = false;
            end_->link_ = nullptr;
            end_.reset();
        }
        script_.reset();
    }

    ScriptedNet& net_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::shared_ptr<ServerEnd> end_;
    std::shared_ptr<ServerScript> script_;
    QByteArray inbox_;
};

double ServerEnd::deliverAt(double delay) {
    const double now = pump_->elapsedSeconds();
    const double at = std::max(now + (delay < 0 ? latency_ : delay), lastDelivery_);
    lastDelivery_ = at;
    return at - now;
}

void ServerEnd::send(const QByteArray& bytes, double delay) {
    if (!isOpen())
        return;
    ScriptedLink* link = link_;
    pump_->schedule(deliverAt(delay), [this, link, bytes] {
        if (isOpen() && link_ == link)
            link->deliver(bytes);
    });
}

void ServerEnd::close(double delay) {
    if (!isOpen())
        return;
    ScriptedLink* link = link_;
    pump_->schedule(deliverAt(delay), [this, link] {
        if (isOpen() && link_ == link) {
            open_ = false;
            link->peerClosed();
        }
    });
}

void LineScript::received(ServerEnd& end, const QByteArray& bytes) {
    pending_ += bytes;
    qsizetype lf;
    while ((lf = pending_.indexOf('\n')) >= 0) {
        const QByteArray one = pending_.left(lf + 1);
        pending_.remove(0, lf + 1);
        line(end, one);
        if (!end.isOpen())
            return;
    }
}

ScriptedNet::~ScriptedNet() = default;

void ScriptedNet::listen(const QString& host, quint16 port, ScriptMaker maker) {
    if (!hosts_.contains(host, Qt::CaseInsensitive))
        hosts_ << host;
    listeners_.insert(host.toLower() + QLatin1Char(':') + QString::number(port), std::move(maker));
}

std::unique_ptr<ByteLink> ScriptedNet::CreateLink() { return std::make_unique<ScriptedLink>(*this); }

// ---- POP3 ---------------------------------------------------------------

namespace {

class Pop3Script : public LineScript {
public:
    explicit Pop3Script(std::shared_ptr<Pop3Mailbox> box) : box_(std::move(box)) {}

    void connected(ServerEnd& end) override {
        if (!box_->silent)
            end.send(box_->greeting + "\r\n", box_->replyDelay);
    }

    void line(ServerEnd& end, const QByteArray& raw) override {
        const QByteArray text = raw.trimmed();
        box_->commands << text;
        const QList<QByteArray> words = text.split(' ');
        const QByteArray verb = words.value(0).toUpper();
        // True when the command begins with the words of `pattern`.
        auto is = [&](const QByteArray& pattern) {
            const QList<QByteArray> want = pattern.split(' ');
            if (pattern.isEmpty() || want.size() > words.size())
                return false;
            for (qsizetype i = 0; i < want.size(); ++i)
                if (want[i].toUpper() != words[i].toUpper())
                    return false;
            return true;
        };
        if (is(box_->silentAfter))
            silenced_ = true;
        if (box_->silent || silenced_)
            return;
        if (is(box_->dropAfter)) {
            end.close(box_->replyDelay);
            return;
        }
        auto reply = [&](const QByteArray& bytes) {
            if (box_->chunkSize <= 0) {
                end.send(bytes, box_->replyDelay);
                return;
            }
            double delay = box_->replyDelay;
            for (qsizetype at = 0; at < bytes.size(); at += box_->chunkSize, delay += box_->chunkDelay)
                end.send(bytes.mid(at, box_->chunkSize), delay);
        };
        auto message = [&](int n) -> const QByteArray* {
            return n >= 1 && n <= box_->messages.size() ? &box_->messages[n - 1] : nullptr;
        };
        if (verb == "USER") {
            user_ = QString::fromLatin1(words.value(1));
            reply("+OK\r\n");
        } else if (verb == "PASS") {
            loggedIn_ = user_ == box_->user && QString::fromLatin1(text.mid(5)) == box_->password;
            reply(loggedIn_ ? "+OK Logged in.\r\n" : "-ERR Authentication failed.\r\n");
        } else if (verb == "CAPA" && box_->pipelining) {
            // Capabilities may be asked before the login as after it.
            reply("+OK\r\nTOP\r\nUIDL\r\nPIPELINING\r\n.\r\n");
        } else if (!loggedIn_ && verb != "QUIT") {
            reply("-ERR Unknown command.\r\n");
        } else if (verb == "STAT") {
            qsizetype total = 0;
            for (const QByteArray& m : box_->messages)
                total += m.size();
            reply("+OK " + QByteArray::number(box_->messages.size()) + ' ' + QByteArray::number(total) + "\r\n");
        } else if (verb == "NOOP") {
            reply("+OK\r\n");
        } else if (verb == "TOP" || verb == "RETR") {
            const QByteArray* m = message(words.value(1).toInt());
            if (!m || (verb == "TOP" && box_->refuseTop.contains(words.value(1).toInt()))) {
                reply("-ERR There's no message " + words.value(1) + ".\r\n");
                return;
            }
            QByteArray body = *m;
            if (verb == "TOP") {
                const qsizetype blank = body.indexOf("\r\n\r\n");
                body = blank >= 0 ? body.left(blank + 4) : body;
            }
            if (!body.endsWith("\r\n"))
                body += "\r\n";
            if (body.startsWith('.'))
                body.prepend('.');
            body.replace("\r\n.", "\r\n..");
            const bool bare = verb == "TOP" && box_->bareTop;
            reply((bare ? QByteArray("+OK") : "+OK " + QByteArray::number(m->size()) + " octets") + "\r\n" +
                  body + ".\r\n");
        } else if (verb == "UIDL" && box_->uidl) {
            auto uid = [&](int n) {
                return QCryptographicHash::hash(box_->messages[n - 1], QCryptographicHash::Sha1).toHex().left(20);
            };
            if (words.size() > 1) {
                const int n = words.value(1).toInt();
                reply(message(n) ? "+OK " + words.value(1) + ' ' + uid(n) + "\r\n"
                                 : "-ERR There's no message " + words.value(1) + ".\r\n");
                return;
            }
            QByteArray list = "+OK\r\n";
            for (int n = 1; n <= box_->messages.size(); ++n)
                list += QByteArray::number(n) + ' ' + uid(n) + "\r\n";
            reply(list + ".\r\n");
        } else if (verb == "LIST") {
            if (words.size() > 1) {
                const QByteArray* m = message(words.value(1).toInt());
                reply(m ? "+OK " + words.value(1) + ' ' + QByteArray::number(m->size()) + "\r\n"
                        : "-ERR There's no message " + words.value(1) + ".\r\n");
                return;
            }
            QByteArray list = "+OK " + QByteArray::number(box_->messages.size()) + " messages:\r\n";
            for (qsizetype i = 0; i < box_->messages.size(); ++i)
                list += QByteArray::number(i + 1) + ' ' + QByteArray::number(box_->messages[i].size()) + "\r\n";
            reply(list + ".\r\n");
        } else if (verb == "QUIT") {
            reply("+OK Logging out.\r\n");
            end.close(box_->replyDelay);
        } else {
            reply("-ERR Unknown command.\r\n");
        }
    }

private:
    std::shared_ptr<Pop3Mailbox> box_;
    QString user_;
    bool loggedIn_ = false;
    bool silenced_ = false;
};

class SmtpScript : public LineScript {
public:
    explicit SmtpScript(std::shared_ptr<SmtpSink> sink) : sink_(std::move(sink)) {}

    void connected(ServerEnd& end) override {
        if (!sink_->silent)
            end.send("220 scripted.example ESMTP\r\n", sink_->replyDelay);
    }

    void line(ServerEnd& end, const QByteArray& raw) override {
        if (sink_->silent)
            return;
        auto reply = [&](const QByteArray& bytes) { end.send(bytes, sink_->replyDelay); };
        if (inData_) {
            if (raw == ".\r\n" || raw == ".\n") {
                inData_ = false;
                ++sink_->dataCount;
                if (sink_->refuseMessages.contains(sink_->dataCount)) {
                    reply("554 Message refused\r\n");
                } else if (sink_->rejectData && (sink_->rejectDataTimes == 0 || rejected_ < sink_->rejectDataTimes)) {
                    ++rejected_;
                    reply(QByteArray::number(sink_->rejectData) + " Message refused\r\n");
                } else {
                    sink_->messages << current_;
                    reply("250 OK queued\r\n");
                }
                current_ = SmtpMessage{current_.helo, {}, {}, {}};
            } else {
                current_.data += raw;
            }
            return;
        }
        const QByteArray text = raw.trimmed();
        sink_->commands << text;
        const QByteArray verb = text.left(4).toUpper();
        if (verb == "HELO" || verb == "EHLO") {
            current_.helo = text.mid(5);
            reply(sink_->offerAuth && verb == "EHLO" ? "250-scripted.example\r\n250 AUTH PLAIN LOGIN\r\n"
                                                     : "250 scripted.example\r\n");
        } else if (verb == "AUTH") {
            reply(sink_->refuseAuth ? QByteArray::number(sink_->refuseAuth) + " Authentication credentials invalid\r\n"
                                    : "235 Authentication succeeded\r\n");
        } else if (verb == "MAIL") {
            current_.mailFrom = text.mid(text.indexOf(':') + 1);
            reply("250 OK\r\n");
        } else if (verb == "RCPT") {
            if (sink_->rejectRcpt) {
                reply(QByteArray::number(sink_->rejectRcpt) + " No such user\r\n");
            } else {
                current_.rcptTo << text.mid(text.indexOf(':') + 1);
                reply("250 OK\r\n");
            }
        } else if (verb == "DATA") {
            inData_ = true;
            reply("354 End data with <CR><LF>.<CR><LF>\r\n");
        } else if (verb == "RSET") {
            current_ = SmtpMessage{current_.helo, {}, {}, {}};
            reply("250 OK\r\n");
        } else if (verb == "QUIT") {
            reply("221 Bye\r\n");
            end.close(sink_->replyDelay);
        } else {
            reply("502 Command not implemented\r\n");
        }
    }

private:
    std::shared_ptr<SmtpSink> sink_;
    SmtpMessage current_;
    bool inData_ = false;
    int rejected_ = 0;
};

class HttpScript : public ServerScript {
public:
    explicit HttpScript(std::shared_ptr<HttpResponder> responder) : responder_(std::move(responder)) {}

    void received(ServerEnd& end, const QByteArray& bytes) override {
        request_ += bytes;
        if (answered_ || !request_.contains("\r\n\r\n"))
            return;
        answered_ = true;
        responder_->requests << request_;
        const QByteArray answer = responder_->respond ? responder_->respond(request_) : QByteArray();
        if (answer.isEmpty())
            return;
        end.send(answer, responder_->replyDelay);
        if (!responder_->keepOpen)
            end.close(responder_->replyDelay);
    }

private:
    std::shared_ptr<HttpResponder> responder_;
    QByteArray request_;
    bool answered_ = false;
};

} // namespace

int Pop3Mailbox::count(const QByteArray& verb) const {
    int n = 0;
    for (const QByteArray& c : commands)
        if (c.toUpper().startsWith(verb))
            ++n;
    return n;
}

std::unique_ptr<ServerScript> makePop3Script(std::shared_ptr<Pop3Mailbox> box) {
    return std::make_unique<Pop3Script>(std::move(box));
}

std::unique_ptr<ServerScript> makeSmtpScript(std::shared_ptr<SmtpSink> sink) {
    return std::make_unique<SmtpScript>(std::move(sink));
}

std::unique_ptr<ServerScript> makeHttpScript(std::shared_ptr<HttpResponder> responder) {
    return std::make_unique<HttpScript>(std::move(responder));
}

} // namespace tessaly
