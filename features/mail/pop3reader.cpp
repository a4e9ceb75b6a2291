#include "features/mail/pop3reader.h"

#include "features/mail/cpopaccount.h"
#include "features/paging/smtpevents.h"
#include "ground/remotetext.h"
#include "ground/sockerr.h"
#include "platform/eventpump.h"
#include "platform/pop3replies.h"
#include "state/appstate.h"
#include "state/livesettings.h"
#include "state/mailsecurity.h"

namespace tessaly {

namespace {
const QString kCRLF = QStringLiteral("\r\n");

// A header request's answer: refused on a negative status or a reply that
// is not "+OK"; too big when only its first part was kept.
MailboxReader::HeaderAnswer headerAnswer(int result, QString header, bool cut) {
    using Status = MailboxReader::HeaderAnswer::Status;
    if (result == PopControl::NegativeReply || !pop3::IsPositive(header))
        return {Status::Refused, std::move(header)};
    if (cut)
        return {Status::TooBig, QString()};
    return {Status::Answered, std::move(header)};
}
} // namespace

Pop3Reader::Pop3Reader(MailContext& ctx, ClearTextNotice readInClear)
    : ctx_(ctx), pop_(*ctx.pop), tcp_(*ctx.tcp), readInClear_(std::move(readInClear)) {
    replies_.Follow(pop_);
    follow();
}

void Pop3Reader::follow() {
    connect(&pop_, &PopControl::dataReceived, this, [this](const QString& text) {
        // A remote command message shows without its password.
        terminal(QStringLiteral("POP Recv: ") + HideRemotePassword(text, ctx_.state.settings.remotePassword) + kCRLF);
    });
    connect(&pop_, &PopControl::packetSent, this, [this] { terminal(QStringLiteral("POP Packet Sent: ") + kCRLF); });
    connect(&pop_, &PopControl::socketClosed, this,
            [this] { terminal(QStringLiteral("POP Socket Closed...: ") + kCRLF); });
    connect(&pop_, &PopControl::loginComplete, this, [this] {
        count_ = pop_.MessageCount();
        loggedIn_ = true;
    });
    connect(&pop_, &PopControl::secureFailed, this, [this](const QString& text) {
        ctx_.activity.LogActivity(accountName_ + QStringLiteral(": ") + text);
        ctx_.state.internetError = true;
    });
    connect(&pop_, &PopControl::clearText, this, [this] {
        if (readInClear_)
            readInClear_(accountName_, pop_.Server());
    });
    connect(&pop_, &PopControl::error, this,
            [this](int number, const QString&) { socketError(QStringLiteral("POP"), QStringLiteral("POP"), number); });
    connect(&tcp_, &TcpControl::packetSent, this,
            [this] { terminal(QStringLiteral("TCP Packet Sent: ") + lastTcpText_ + kCRLF); });
    // The raw TCP control's errors show in the terminal like the mail-sending control's.
    connect(&tcp_, &TcpControl::error, this,
            [this](int number, const QString&) { socketError(QStringLiteral("TCP"), QStringLiteral("SMTP"), number); });
}

void Pop3Reader::terminal(const QString& line) { ctx_.state.terminal.Append(line); }

void Pop3Reader::socketError(const QString& logName, const QString& terminalName, int number) {
    const QString text = sockerr::Text(number);
    // A wait the user cancelled is no socket fault; the check says it was cancelled.
    if (!(number == sockerr::Interrupted && ctx_.state.cancel))
        ctx_.activity.LogActivity(QStringLiteral("Winsock Error using ") + logName + QStringLiteral(": ") + text);
    terminal(SocketErrorTerminalLine(terminalName, number, text));
    ctx_.state.internetError = true;
}

void Pop3Reader::Prepare() {
    pop_.Reset();
    pop_.SetCancelFlag(&ctx_.state.cancel);
}

MailboxReader::Login Pop3Reader::LogIn(const CPOPAccount& account, double countWait) {
    const int result = logIn(account);
    if (result == PopControl::NegativeReply)
        return Login::Refused;
    if (result != 0)
        return Login::Failed;
    const bool& cancel = ctx_.state.cancel;
    ctx_.pump.waitUntil([&] { return loggedIn_ || ctx_.state.internetError || cancel; }, countWait, &cancel);
    return loggedIn_ ? Login::Done : Login::NoCount;
}

int Pop3Reader::logIn(const CPOPAccount& account) {
    EventPump& pump = ctx_.pump;
    loggedIn_ = false;
    pop_.SetServer(account.Server());
    pop_.SetPort(account.MailPort());
    pop_.SetUser(account.Username());
    pop_.SetPassword(account.Password());
    accountName_ = account.Name();
    pop_.SetSecurity(PopSecurityForCheck(ctx_.store, account.Name()));
    pop_.SetCaFile(ctx_.store ? LoadMailSecurity(*ctx_.store).caFile : QString());
    const int socket = pop_.Connect();
    tcp_.SetSocket(socket);
    pump.yield();
    if (socket < 1) {
        // A socket error or a refused TLS set-up has had its line already.
        if (!ctx_.state.internetError)
            ctx_.activity.LogActivity(QStringLiteral("Invalid socket number"));
        pop_.Close();
        return -1;
    }
    loginProblem_.clear();
    int result = 0;
    if (sasl::BearerSource bearer = ctx_.bearerFor ? ctx_.bearerFor(account.Name()) : sasl::BearerSource()) {
        pop_.SetBearer(std::move(bearer));
        result = pop_.SendOAuth();
        pop_.SetBearer({});
        loginProblem_ = pop_.SignInFailure();
        pump.yield();
    } else {
        result = pop_.SendUser();
        pump.yield();
        if (result == 0) {
            result = pop_.SendPass();
            pump.yield();
        }
    }
    if (result == 0) {
        result = pop_.SendStat();
        pump.yield();
    }
    if (result != 0 || ctx_.state.internetError) {
        pop_.Close();
        return result != 0 ? result : -1;
    }
    return 0;
}

std::optional<int> Pop3Reader::exchange(const QString& command, bool* cut) {
    lastTcpText_ = command;
    const int before = replies_.RepliesCompleted();
    if (tcp_.SendText(lastTcpText_) != 0)
        return std::nullopt;
    const int status = pop_.Receive();
    if (cut)
        *cut = pop_.LastReplyCut();
    const int next = pop_.Receive();
    // The answer is in the last reply only when it and the reply after it
    // both arrived; otherwise the last reply still holds an earlier answer.
    if (status > PopControl::NegativeReply || next > PopControl::NegativeReply || ctx_.state.internetError ||
        replies_.RepliesCompleted() - before < 2)
        return std::nullopt;
    return status;
}

bool Pop3Reader::ask(const QString& command) {
    const std::optional<int> result = exchange(command);
    return result == 0 && pop3::IsPositive(replies_.LastReply());
}

QHash<int, std::int32_t> Pop3Reader::Sizes() {
    lastTcpText_ = QStringLiteral("LIST\r\n");
    if (tcp_.SendText(lastTcpText_) != 0)
        return {};
    pop_.Receive();
    pop_.Receive();
    return pop3::ParseList(replies_.LastReply());
}

QHash<int, QString> Pop3Reader::UniqueIds(int count) {
    if (!ask(QStringLiteral("UIDL\r\n")))
        return {}; // not offered
    return pop3::ParseUidl(replies_.LastReply(), count);
}

bool Pop3Reader::OffersBatches() {
    // What the server answered while the connection was opened still holds.
    if (const std::optional<QByteArray> known = pop_.Capabilities())
        return pop3::OffersBatches(*known);
    return ask(QStringLiteral("CAPA\r\n")) && pop3::OffersBatches(replies_.LastReply().toLatin1());
}

void Pop3Reader::RequestHeaders(const QList<int>& numbers, QHash<int, HeaderAnswer>& answers) {
    QList<PopControl::HeaderAnswer> received;
    pop_.RequestHeaders(numbers, received);
    // Only the requests whose own answer arrived count; the first without
    // one meets "no answer" when it is asked for on its own.
    for (qsizetype i = 0; i < received.size(); ++i)
        answers.insert(numbers[i],
                       headerAnswer(received[i].result, QString::fromLatin1(received[i].reply), received[i].cut));
}

MailboxReader::HeaderAnswer Pop3Reader::Header(int m) {
    HeaderAnswer answer;
    if (ctx_.state.internetError) {
        pop_.Close();
        return answer;
    }
    bool cut = false;
    const std::optional<int> result = exchange(QStringLiteral("TOP %1 0\r\n").arg(m), &cut);
    return result ? headerAnswer(*result, replies_.LastReply(), cut) : answer;
}

std::optional<QString> Pop3Reader::Message(int m) {
    pop_.SetMessageNumber(m);
    const int result = pop_.Retrieve();
    ctx_.pump.yield();
    if (result != 0 || ctx_.state.internetError)
        return std::nullopt;
    return pop_.MessageText();
}

void Pop3Reader::RequestMessages(const QList<int>& numbers, QHash<int, QString>& texts) {
    if (ctx_.state.internetError)
        return;
    QList<PopControl::MessageAnswer> received;
    pop_.RequestMessages(numbers, received);
    ctx_.pump.yield();
    for (qsizetype i = 0; i < received.size(); ++i)
        if (received[i].result == 0)
            texts.insert(numbers[i], std::move(received[i].text));
}

void Pop3Reader::Close() {
    pop_.Close();
    tcp_.SetSocket(0);
}

} // namespace tessaly
