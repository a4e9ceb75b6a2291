#include "features/mail/imapreader.h"

#include "features/mail/cpopaccount.h"
#include "features/paging/smtpevents.h"
#include "ground/remotetext.h"
#include "ground/sockerr.h"
#include "platform/popcontrol.h"
#include "state/appstate.h"
#include "state/livesettings.h"
#include "state/mailsecurity.h"

#include <algorithm>
#include <limits>

namespace tessaly {

namespace {
const QString kCRLF = QStringLiteral("\r\n");
} // namespace

ImapReader::ImapReader(MailContext& ctx, LinkFactory& links, FolderFor folderFor, ClearTextNotice readInClear)
    : ctx_(ctx), client_(ctx.pump, links), folderFor_(std::move(folderFor)), readInClear_(std::move(readInClear)) {
    connect(&client_, &ImapClient::lineSent, this,
            [this](const QString& text) { terminal(QStringLiteral("IMAP Sent: ") + text + kCRLF); });
    connect(&client_, &ImapClient::lineReceived, this, [this](const QString& text) {
        terminal(QStringLiteral("IMAP Recv: ") + HideRemotePassword(text, ctx_.state.settings.remotePassword) + kCRLF);
    });
    connect(&client_, &ImapClient::socketClosed, this,
            [this] { terminal(QStringLiteral("IMAP Socket Closed...: ") + kCRLF); });
    connect(&client_, &ImapClient::clearText, this, [this] {
        if (readInClear_)
            readInClear_(accountName_, client_.Host());
    });
    connect(&client_, &ImapClient::error, this, [this](int number, const QString& text) {
        // A wait the user cancelled is no socket fault; the check says it was cancelled.
        if (!(number == sockerr::Interrupted && ctx_.state.cancel))
            ctx_.activity.LogActivity(QStringLiteral("Winsock Error using IMAP: ") + text);
        terminal(SocketErrorTerminalLine(QStringLiteral("IMAP"), number, text));
        ctx_.state.internetError = true;
    });
}

QString ImapReader::UniqueId(const QString& folder, quint32 validity, quint32 uid) {
    return QStringLiteral("%1;UIDVALIDITY=%2;UID=%3").arg(folder).arg(validity).arg(uid);
}

void ImapReader::terminal(const QString& line) { ctx_.state.terminal.Append(line); }

void ImapReader::report(int result) {
    // Socket errors had their lines from the client's error signal.
    if (result > 0 || result == 0)
        return;
    if (result == ImapClient::kSecureFailed || result == ImapClient::kUnreadable)
        ctx_.state.internetError = true;
    if (!client_.LastFailure().isEmpty())
        ctx_.activity.LogActivity(accountName_ + QStringLiteral(": ") + client_.LastFailure());
}

void ImapReader::Prepare() {
    client_.Abort();
    client_.SetCancelFlag(&ctx_.state.cancel);
    messages_.clear();
    count_ = 0;
}

MailboxReader::Login ImapReader::LogIn(const CPOPAccount& account, double /*countWait*/) {
    accountName_ = account.Name();
    messages_.clear();
    count_ = 0;
    uidValidity_ = 0;
    folder_ = folderFor_ ? folderFor_(account) : QString();
    if (folder_.isEmpty())
        folder_ = QStringLiteral("INBOX");

    const Security security = PopSecurityForCheck(ctx_.store, account.Name());
    int port = account.MailPort();
    if (port <= 0)
        port = security == Security::Tls ? kImapTlsPort : ImapClient::kImapPort;
    client_.SetHost(account.Server());
    client_.SetPort(port);
    client_.SetSecurity(security);
    client_.SetCaFile(ctx_.store ? LoadMailSecurity(*ctx_.store).caFile : QString());
    if (ctx_.pop) {
        client_.SetTimeout(ctx_.pop->Timeout());
        client_.SetCommandDeadline(ctx_.pop->CommandDeadline());
        client_.SetDownloadDeadline(ctx_.pop->DownloadDeadline());
    }
    client_.SetCancelFlag(&ctx_.state.cancel);

    loginProblem_.clear();
    int result = client_.Connect();
    const sasl::BearerSource bearer = ctx_.bearerFor ? ctx_.bearerFor(account.Name()) : sasl::BearerSource();
    if (result == 0)
        result = bearer ? client_.LoginOAuth(account.Username(), bearer)
                        : client_.Login(account.Username(), account.Password());
    if (result == ImapClient::kRefused || (bearer && result == ImapClient::kNotOffered)) {
        if (bearer)
            loginProblem_ = client_.LastFailure();
        client_.Abort();
        return Login::Refused;
    }
    if (result != 0) {
        report(result);
        client_.Abort();
        return Login::Failed;
    }
    result = client_.Examine(folder_);
    if (result == 0)
        result = client_.FetchUidsAndSizes(messages_);
    if (result != 0) {
        report(result);
        client_.Abort();
        messages_.clear();
        return Login::NoCount;
    }
    uidValidity_ = client_.CurrentMailbox().uidValidity;
    count_ = static_cast<int>(std::min<qsizetype>(messages_.size(), std::numeric_limits<int>::max()));
    return Login::Done;
}

QHash<int, std::int32_t> ImapReader::Sizes() {
    QHash<int, std::int32_t> sizes;
    for (int n = 1; n <= count_; ++n)
        if (const qint64 size = messages_[n - 1].size; size >= 0)
            sizes.insert(n, static_cast<std::int32_t>(size));
    return sizes;
}

QHash<int, QString> ImapReader::UniqueIds(int count) {
    QHash<int, QString> ids;
    // Without UIDVALIDITY a UID names nothing lasting.
    if (uidValidity_ == 0)
        return ids;
    for (int n = 1; n <= std::min(count, count_); ++n)
        if (const quint32 uid = messages_[n - 1].uid; uid != 0)
            ids.insert(n, UniqueId(folder_, uidValidity_, uid));
    return ids;
}

quint32 ImapReader::uidOf(int m) const { return m >= 1 && m <= count_ ? messages_[m - 1].uid : 0; }

void ImapReader::headers(const QList<int>& numbers, QHash<int, HeaderAnswer>& answers) {
    using Status = HeaderAnswer::Status;
    QList<quint32> uids;
    for (const int m : numbers)
        if (const quint32 uid = uidOf(m))
            uids << uid;
        else
            answers.insert(m, {Status::Refused, QString()}); // no such message on the server
    if (uids.isEmpty() || !client_.IsOpen())
        return;
    QHash<quint32, ImapClient::Fetched> fetched;
    const int result = client_.FetchHeaders(uids, fetched);
    for (const int m : numbers) {
        const quint32 uid = uidOf(m);
        if (!uid)
            continue;
        const auto got = fetched.constFind(uid);
        if (got == fetched.constEnd()) {
            // Answered for others but not for this one while the connection
            // held: the server has no such message any more.
            if (result == 0 || result == ImapClient::kRefused)
                answers.insert(m, {Status::Refused, QString()});
            continue;
        }
        if (got->tooBig) {
            answers.insert(m, {Status::TooBig, QString()});
            continue;
        }
        const qint64 size = messages_[m - 1].size;
        const QString status =
            size >= 0 ? QStringLiteral("+OK %1 octets").arg(size) + kCRLF : QStringLiteral("+OK") + kCRLF;
        answers.insert(m, {Status::Answered, status + QString::fromLatin1(got->text)});
    }
    report(result);
}

void ImapReader::RequestHeaders(const QList<int>& numbers, QHash<int, HeaderAnswer>& answers) {
    if (ctx_.state.internetError)
        return;
    headers(numbers, answers);
}

MailboxReader::HeaderAnswer ImapReader::Header(int m) {
    QHash<int, HeaderAnswer> answers;
    if (!ctx_.state.internetError)
        headers({m}, answers);
    return answers.value(m);
}

std::optional<QString> ImapReader::Message(int m) {
    QHash<int, QString> texts;
    RequestMessages({m}, texts);
    if (const auto got = texts.constFind(m); got != texts.constEnd())
        return *got;
    return std::nullopt;
}

void ImapReader::RequestMessages(const QList<int>& numbers, QHash<int, QString>& texts) {
    if (ctx_.state.internetError || !client_.IsOpen())
        return;
    QList<quint32> uids;
    for (const int m : numbers)
        if (const quint32 uid = uidOf(m))
            uids << uid;
    if (uids.isEmpty())
        return;
    QHash<quint32, ImapClient::Fetched> fetched;
    const int result = client_.FetchMessages(uids, fetched);
    for (const int m : numbers) {
        const auto got = fetched.constFind(uidOf(m));
        // A message over the size limit is not read, as over POP3.
        if (got != fetched.constEnd() && !got->tooBig)
            texts.insert(m, QString::fromLatin1(got->text));
    }
    report(result);
}

void ImapReader::Close() {
    if (client_.IsOpen())
        client_.Logout();
    else
        client_.Abort();
}

} // namespace tessaly
