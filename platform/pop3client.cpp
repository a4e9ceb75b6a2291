#include "platform/pop3client.h"

#include "ground/sockerr.h"

namespace tessaly {

Pop3Client::Pop3Client(EventPump& pump, LinkFactory& links, SocketRegistry& registry, QObject* parent)
    : pump_(pump), link_(pump, links), registry_(registry) {
    setParent(parent);
    connect(&link_, &LinkSession::bytesArrived, this, [this] {
        if (reading_)
            consume();
    });
    connect(&link_, &LinkSession::peerClosed, this, [this] {
        if (reading_)
            consume();
        if (socket_) {
            registry_.Unregister(socket_);
            socket_ = 0;
            emit socketClosed();
        }
    });
}

Pop3Client::~Pop3Client() {
    if (socket_)
        registry_.Unregister(socket_);
}

void Pop3Client::dropConnection(bool announce) {
    link_.Abort();
    awaiting_.clear();
    reading_ = false;
    if (socket_) {
        registry_.Unregister(socket_);
        socket_ = 0;
        if (announce)
            emit socketClosed();
    }
}

void Pop3Client::Reset() {
    dropConnection(false);
    count_ = 0;
    messageText_.clear();
}

int Pop3Client::fail(int number) {
    // After a failed exchange the replies can no longer be matched to their
    // commands, so the connection is given up.
    emit error(number, sockerr::Text(number));
    dropConnection(true);
    return number;
}

int Pop3Client::Connect() {
    dropConnection(false);
    count_ = 0;
    capabilities_.reset();
    messageText_.clear();
    const int opened = link_.Open(Server(), static_cast<quint16>(Port()), Timeout(), cancel_);
    if (opened != 0) {
        emit error(opened, sockerr::Text(opened));
        return 0;
    }
    socket_ = registry_.Register(this);
    const bool implicit = ImplicitTls(SecurityChoice(), Port(), kPop3TlsPort);
    if (implicit && !secureImplicit())
        return 0;
    awaiting_.push_back(pending("", false)); // the greeting
    const int greeting = readReply(nullptr);
    if (greeting == sockerr::TimedOut && !implicit)
        emit secureFailed(SilentGreetingHint(Server(), Port()));
    if (greeting != 0) {
        if (socket_)
            dropConnection(true);
        return 0;
    }
    if (!implicit && !secureAfterGreeting())
        return 0;
    return socket_;
}

bool Pop3Client::refuseSecure(const QString& reason) {
    emit secureFailed(QStringLiteral("No secure connection to %1:%2: %3").arg(Server()).arg(Port()).arg(reason));
    dropConnection(true);
    return false;
}

bool Pop3Client::secureImplicit() {
    if (link_.StartTls(Server().trimmed(), CaFile(), Timeout(), cancel_) == 0)
        return true;
    return refuseSecure(ExplainTlsFailure(link_.SecureFailure()));
}

bool Pop3Client::secureAfterGreeting() {
    if (!AsksCapabilities(SecurityChoice()))
        return true;
    QByteArray capabilities;
    const int asked = command("CAPA", true, &capabilities);
    if (asked > NegativeReply)
        return false; // the connection failed and was reported
    switch (UpgradeFor(SecurityChoice(), asked == 0 && Offers(capabilities, "STLS"))) {
    case Upgrade::Clear: capabilities_ = asked == 0 ? capabilities : QByteArray(); return true;
    case Upgrade::ClearNotice:
        capabilities_ = asked == 0 ? capabilities : QByteArray();
        emit clearText();
        return true;
    case Upgrade::Refuse: return refuseSecure(QStringLiteral("the server offers no STLS, and STARTTLS is required"));
    case Upgrade::StartTls: break;
    }
    const int answer = command("STLS", false);
    if (answer > NegativeReply)
        return false;
    if (answer != 0)
        return refuseSecure(QStringLiteral("the server refused STLS"));
    if (link_.StartTls(Server().trimmed(), CaFile(), Timeout(), cancel_) != 0)
        return refuseSecure(ExplainTlsFailure(link_.SecureFailure()));
    return true;
}

namespace {
// The first word of a command line without surrounding white space.
QByteArrayView verbOf(QByteArrayView trimmed) {
    const qsizetype blank = trimmed.indexOf(' ');
    return blank < 0 ? trimmed : trimmed.first(blank);
}
bool isVerb(QByteArrayView verb, const char* upper) {
    return verb.compare(QByteArrayView(upper), Qt::CaseInsensitive) == 0;
}
} // namespace

bool Pop3Client::isMultiLine(const QByteArray& line) {
    const QByteArrayView trimmed = QByteArrayView(line).trimmed();
    const QByteArrayView verb = verbOf(trimmed);
    if (isVerb(verb, "RETR") || isVerb(verb, "TOP") || isVerb(verb, "CAPA"))
        return true;
    if (isVerb(verb, "LIST") || isVerb(verb, "UIDL"))
        return verb.size() == trimmed.size(); // without an argument: the whole list
    return false;
}

Pop3Client::Pending Pop3Client::pending(const QByteArray& line, bool multiLine) const {
    const QByteArrayView verb = verbOf(QByteArrayView(line).trimmed());
    const double limit = isVerb(verb, "RETR") ? DownloadDeadline() : CommandDeadline();
    Pending p;
    p.multiLine = multiLine;
    p.bounded = multiLine && isVerb(verb, "TOP");
    if (limit > 0)
        p.deadlineMs = pump_.steadyMs() + static_cast<qint64>(limit * 1000);
    return p;
}

int Pop3Client::WriteRaw(const QByteArray& bytes) {
    const int written = link_.Write(bytes);
    if (written != 0)
        return written;
    // Every complete command line written here awaits its own reply.
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) // the last piece has no line end
        if (!lines[i].trimmed().isEmpty())
            awaiting_.push_back(pending(lines[i], isMultiLine(lines[i])));
    emit packetSent();
    return 0;
}

int Pop3Client::command(const QByteArray& line, bool multiLine, QByteArray* reply) {
    if (!socket_)
        return fail(sockerr::NotConnected);
    const int written = link_.Write(line + "\r\n");
    if (written != 0)
        return fail(written);
    awaiting_.push_back(pending(line, multiLine));
    emit packetSent();
    return readReply(reply);
}

void Pop3Client::consume() {
    QByteArray& buffer = link_.Buffer();
    const char* data = buffer.constData();
    qsizetype start = 0; // the complete lines of this reply so far end here
    qsizetype kept = 0;  // of which this much joins the reply's text
    Reply& r = current_;
    while (!r.complete && !r.failure) {
        const qsizetype lf = buffer.indexOf('\n', start);
        if (lf < 0) {
            const qsizetype open = buffer.size() - start; // the line without its end yet
            if (r.bounded && r.ok && open > kMaxLine) {
                // A header line without end in sight: dropped as it comes.
                r.cut = r.midLine = true;
                start = buffer.size();
            } else if (r.statusSeen && r.multiLine ? r.text.size() + buffer.size() > kMaxReply : open > kMaxLine) {
                // A status line has its own bound; the lines of a list or a
                // message only the bound of the whole answer.
                r.failure = sockerr::MessageTooLong;
            }
            break;
        }
        const QByteArrayView line(data + start, lf + 1 - start);
        const bool restOfDropped = r.midLine;
        r.midLine = false;
        start = lf + 1;
        if (restOfDropped) {
            // The end of a line whose start was dropped: never a status or the final ".".
        } else if (!r.statusSeen) {
            r.statusSeen = true;
            r.ok = line.startsWith("+OK");
            if (!r.multiLine || !r.ok)
                r.complete = true;
        } else if (line == ".\r\n" || line == ".\n") {
            r.complete = true;
        }
        if (r.bounded && !r.cut && (restOfDropped || r.text.size() + start > kMaxHeader))
            r.cut = true;
        if (!r.cut)
            kept = start;
        if (!r.bounded && r.text.size() + start > kMaxReply)
            r.failure = sockerr::MessageTooLong;
    }
    if (start == 0)
        return;
    if (kept > 0) {
        r.text.append(data, kept);
        QString piece = QString::fromLatin1(data, kept);
        buffer.remove(0, start);
        emit dataReceived(piece);
    } else {
        buffer.remove(0, start);
    }
}

int Pop3Client::readReply(QByteArray* reply) {
    if (awaiting_.empty())
        return fail(sockerr::NotConnected);
    current_ = Reply{};
    current_.multiLine = awaiting_.front().multiLine;
    current_.bounded = awaiting_.front().bounded;
    lastCut_ = false;
    reading_ = true;
    consume();
    const int waited = link_.WaitFor([this] { return current_.complete || current_.failure != 0; }, Timeout(), cancel_,
                                     awaiting_.front().deadlineMs);
    reading_ = false;
    if (current_.failure)
        return fail(current_.failure);
    if (waited != 0)
        return fail(waited);
    awaiting_.pop_front();
    lastCut_ = current_.cut;
    if (reply)
        *reply = current_.text;
    return current_.ok ? 0 : NegativeReply;
}

int Pop3Client::SendUser() { return command("USER " + User().toLatin1(), false); }

int Pop3Client::SendPass() { return command("PASS " + Password().toLatin1(), false); }

int Pop3Client::SendOAuth() {
    using namespace sasl;
    signInFailure_.clear();
    QByteArray capabilities = capabilities_.value_or(QByteArray());
    if (!capabilities_) {
        const int asked = command("CAPA", true, &capabilities);
        if (asked > NegativeReply)
            return asked;
    }
    const OAuthMechanism mechanism = ChooseOAuth(OfferedWords(capabilities, "SASL"));
    if (mechanism == OAuthMechanism::None) {
        signInFailure_ = QStringLiteral("the server offers no OAuth 2.0 sign-in (SASL OAUTHBEARER or XOAUTH2)");
        return NegativeReply;
    }
    const QByteArray name = MechanismName(mechanism);
    for (int round = 0; round < 2; ++round) {
        const BearerToken got = bearer_ ? bearer_(round > 0) : BearerToken{};
        if (got.token.isEmpty()) {
            signInFailure_ = got.failure.isEmpty() ? QStringLiteral("no access token") : got.failure;
            return NegativeReply;
        }
        const QByteArray response = InitialResponse(mechanism, User(), got.token, Server(), Port()).toBase64();
        QByteArray reply;
        int result;
        // A command line with its initial response may not pass 255 octets;
        // a longer one waits for the server's empty challenge.
        if (name.size() + response.size() + 7 <= 255) {
            result = command("AUTH " + name + ' ' + response, false, &reply);
        } else {
            result = command("AUTH " + name, false, &reply);
            if (result == NegativeReply && reply.startsWith('+') && !reply.startsWith("+OK"))
                result = command(response, false, &reply);
        }
        if (result != NegativeReply)
            return result; // signed in, or the connection failed
        std::optional<OAuthRefusal> refusal;
        if (reply.startsWith('+')) {
            // The server's reasons, then its failure once they are answered.
            refusal = ReadErrorChallenge(QByteArrayView(reply).sliced(1));
            result = command(ErrorChallengeAnswer(mechanism).toBase64(), false, &reply);
            if (result != NegativeReply)
                return result == 0 ? NegativeReply : result;
        }
        signInFailure_ = QStringLiteral("the server refused the access token (%1): %2")
                             .arg(refusal ? refusal->Text() : QStringLiteral("no reason given"),
                                  QString::fromLatin1(reply.trimmed().left(200)));
        if (!refusal || !refusal->TokenRefused())
            return NegativeReply;
    }
    return NegativeReply;
}

int Pop3Client::SendStat() {
    QByteArray reply;
    const int result = command("STAT", false, &reply);
    if (result != 0)
        return result;
    // "+OK count size"
    const QList<QByteArray> words = reply.trimmed().split(' ');
    bool numeric = false;
    const int count = words.value(1).toInt(&numeric);
    if (!numeric)
        return NegativeReply;
    count_ = count;
    emit loginComplete();
    return 0;
}

int Pop3Client::Receive() {
    if (!socket_)
        return fail(sockerr::NotConnected);
    if (awaiting_.empty())
        return command("NOOP", false);
    return readReply(nullptr);
}

int Pop3Client::batch(const char* verb, const QByteArray& suffix, const QList<int>& numbers,
                      const std::function<void(int, QByteArray&, bool)>& take) {
    if (!socket_)
        return fail(sockerr::NotConnected);
    if (numbers.isEmpty())
        return 0;
    QByteArray lines;
    for (int n : numbers)
        lines += verb + (" " + QByteArray::number(n)) + suffix + "\r\n";
    const int written = link_.Write(lines);
    if (written != 0)
        return fail(written);
    const bool retr = qstrcmp(verb, "RETR") == 0;
    for (qsizetype i = 0; i < numbers.size(); ++i)
        awaiting_.push_back(pending(verb, true));
    emit packetSent();
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        // A download's time-out runs from when its own answer is awaited, not
        // from when the whole batch was written.
        if (retr && i > 0 && !awaiting_.empty())
            awaiting_.front() = pending(verb, true);
        QByteArray reply;
        const int result = readReply(&reply);
        if (result > NegativeReply)
            return result; // the connection is gone, with the rest of the answers
        take(result, reply, lastCut_);
    }
    return 0;
}

int Pop3Client::RequestHeaders(const QList<int>& numbers, QList<HeaderAnswer>& answers) {
    answers.clear();
    answers.reserve(numbers.size());
    return batch("TOP", " 0", numbers, [&](int result, QByteArray& reply, bool cut) {
        answers.append(HeaderAnswer{result, std::move(reply), cut});
    });
}

int Pop3Client::RequestMessages(const QList<int>& numbers, QList<MessageAnswer>& answers) {
    answers.clear();
    answers.reserve(numbers.size());
    return batch("RETR", {}, numbers, [&](int result, QByteArray& reply, bool) {
        answers.append(MessageAnswer{result, result == 0 ? unstuffed(reply) : QString()});
        reply.clear(); // one message held at a time besides the answers
    });
}

QString Pop3Client::unstuffed(const QByteArray& reply) {
    QByteArray text;
    text.reserve(reply.size());
    const char* data = reply.constData();
    qsizetype pos = reply.indexOf('\n') + 1;
    while (pos < reply.size()) {
        qsizetype lf = reply.indexOf('\n', pos);
        if (lf < 0)
            lf = reply.size() - 1;
        QByteArrayView line(data + pos, lf + 1 - pos);
        pos = lf + 1;
        if (line == ".\r\n" || line == ".\n")
            break;
        if (line.startsWith('.'))
            line = line.sliced(1);
        text.append(line);
    }
    return QString::fromLatin1(text);
}

int Pop3Client::Retrieve() {
    messageText_.clear();
    QByteArray reply;
    const int result = command("RETR " + QByteArray::number(MessageNumber()), true, &reply);
    if (result != 0)
        return result;
    messageText_ = unstuffed(reply);
    return 0;
}

void Pop3Client::Close() {
    if (socket_ && link_.IsOpen()) {
        // Earlier replies nobody asked for are read first so that the
        // answer to QUIT is matched correctly; a failure only shortens this.
        while (socket_ && !awaiting_.empty())
            if (readReply(nullptr) > NegativeReply)
                break;
        if (socket_ && command("QUIT", false) > NegativeReply)
            return; // already closed and reported
    }
    dropConnection(true);
}

} // namespace tessaly
