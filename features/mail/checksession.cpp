#include "features/mail/checksession.h"

#include "features/paging/pageledger.h"

#include "features/connection/connection.h"
#include "features/mail/cmail.h"
#include "features/mail/cpopaccount.h"
#include "features/mail/headerfields.h"
#include "features/mail/imapreader.h"
#include "features/mail/pop3reader.h"
#include "features/paging/cpager.h"
#include "ground/mimetext.h"
#include "ground/tessalyerror.h"
#include "platform/eventpump.h"
#include "state/appstate.h"
#include "state/commstatus.h"
#include "state/livesettings.h"
#include "state/mailsecurity.h"

#include <algorithm>

namespace tessaly {

namespace {
// A text shortened for one log line, without control characters.
QString oneLine(const QString& text);
} // namespace

CheckSession::CheckSession(MailContext ctx) : ctx_(std::move(ctx)) {
    // An account read in clear because its server offers no TLS is told once
    // per run, and once per server where the settings file remembers it.
    auto clearNotice = [this](const QString& protocol) {
        return [this, protocol](const QString& account, const QString& server) {
            readInClear_ = true;
            if (toldClear_.contains(account))
                return;
            toldClear_.insert(account);
            if (ctx_.clearTextNoticeDue && !ctx_.clearTextNoticeDue(protocol + account, server))
                return;
            ctx_.activity.LogActivity(account + QStringLiteral(": ") + server +
                                      QStringLiteral(" offers no TLS; mail is read without encryption"));
        };
    };
    if (ctx_.pop && ctx_.tcp)
        pop3_ = std::make_unique<Pop3Reader>(ctx_, clearNotice(QStringLiteral("POP3 ")));
    if (ctx_.links)
        imap_ = std::make_unique<ImapReader>(
            ctx_, *ctx_.links, [this](const CPOPAccount& a) { return ReadImapFolder(ctx_.store, a.Name()); },
            clearNotice(QStringLiteral("IMAP ")));
}

CheckSession::~CheckSession() = default;

void CheckSession::pause(double seconds) { ctx_.pump.pause(seconds, &ctx_.state.cancel); }

// A step that fails unexpectedly is written to the log and the check goes on.
bool CheckSession::guarded(const char* what, const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const TessalyError& e) {
        ctx_.activity.LogActivity(QString::fromLatin1(what) + e.description());
    } catch (const std::exception& e) {
        ctx_.activity.LogActivity(QString::fromLatin1(what) + QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void CheckSession::hangUp() { ctx_.connection.HangUp(); }

void CheckSession::Check(bool download, bool page) {
    if (running_)
        return; // a check never starts inside another one
    running_ = true;
    outcome_ = CheckOutcome{};
    toldCancel_ = false;
    queued_ = QDateTime();
    // Kept only for the mail the inbox still holds.
    seen_.removeIf([this](const auto& it) { return !ctx_.inbox.Find(it.key()); });
    StatusWindow& status = ctx_.status;
    guarded("Check: ", [&] {
        if (!status.IsLoaded())
            status.Load();
        if (ctx_.state.settings.statusWindowFlag)
            status.Show();
    });
    ctx_.minuteTimer.stop();
    ctx_.state.internetError = false;
    bool connected = false;
    guarded("Check: ", [&] { connected = ctx_.connection.Connect(); });
    if (!connected) {
        ctx_.activity.LogActivity(QStringLiteral("Internet: Connection was not established..."));
        guarded("Check: ", [&] { hangUp(); });
        finish();
        return;
    }
    outcome_.connected = true;
    ctx_.activity.LogActivity(QStringLiteral("Internet: Connection established..."));
    if (ctx_.state.settings.versionCheckFlag && ctx_.checkVersion)
        guarded("Check: ", [&] { ctx_.checkVersion(); });
    // An error while reading ends the reading; paging still runs.
    if (!guarded("Check: ", [&] { readAccounts(download); })) {
        ++outcome_.accountsNotRead;
        guarded("Check: ", [&] {
            if (reader_)
                reader_->Close();
        });
    }
    noteCancel();
    // Whatever happens while paging, the connection is not left open.
    if (!guarded("Check: ", [&] { pageNewMail(page); }))
        guarded("Check: ", [&] { hangUp(); });
    finish();
}

void CheckSession::tell(const AccountRead& read, int m, const QString& verdict) {
    if (ctx_.verdict)
        ctx_.verdict(read.account.Name(), m, verdict);
}

void CheckSession::finish() {
    ctx_.minuteTimer.start();
    noteCancel();
    running_ = false;
}

void CheckSession::noteCancel() {
    if (!ctx_.state.cancel || toldCancel_)
        return;
    // Paging may start afresh after this; the check stays cancelled.
    outcome_.cancelled = toldCancel_ = true;
    ctx_.activity.LogActivity(QStringLiteral("Mail check cancelled"));
}

void CheckSession::readAccounts(bool download) {
    const bool& cancel = ctx_.state.cancel;
    ctx_.state.internetError = false;
    ctx_.state.newMailFlag = false;
    if (!pop3_ && !imap_)
        return; // no mail controls in this run
    for (MailboxReader* r : {pop3_.get(), imap_.get()})
        if (r)
            r->Prepare();
    ctx_.pump.yield();
    if (cancel)
        return;
    ReadTally tally;
    if (download)
        ctx_.inbox.ResetKeep();
    tally.straySecurity = reportStraySecurityEntries();
    for (CPOPAccount& account : ctx_.accounts) {
        if (!account.CheckMail())
            continue;
        if (!readAccount(account, download, tally))
            break;
    }
    finishReading(download, tally);
}

// A security entry that names no account most likely means one whose name
// is misspelled there, which would then be read as "automatic". True when
// there is one.
bool CheckSession::reportStraySecurityEntries() {
    if (!ctx_.store)
        return false;
    QStringList names;
    for (const CPOPAccount& account : ctx_.accounts)
        names << account.Name();
    for (const QString& entry : StrayPopSecurityEntries(*ctx_.store, names)) {
        ++outcome_.settingsFaults;
        ctx_.activity.LogActivity(QStringLiteral("Settings: the POP3 security entry \"%1\" names no account; "
                                                 "name the account as it is spelt in the profile")
                                      .arg(oneLine(entry)));
    }
    return outcome_.settingsFaults > 0;
}

MailboxReader* CheckSession::readerFor(const CPOPAccount& account) {
    const std::optional<MailProtocol> protocol = ReadMailProtocol(ctx_.store, account.Name());
    if (!protocol) {
        ctx_.activity.LogActivity(account.Name() +
                                  QStringLiteral(": the protocol setting \"%1\" is not one of POP3, IMAP; "
                                                 "the account is not read")
                                      .arg(oneLine(MailProtocolEntry(*ctx_.store, account.Name()))));
        return nullptr;
    }
    MailboxReader* reader = *protocol == MailProtocol::Imap ? imap_.get() : pop3_.get();
    if (!reader)
        ctx_.activity.LogActivity(account.Name() + QStringLiteral(": ") + MailProtocolText(*protocol) +
                                  QStringLiteral(" mailboxes cannot be read in this run; the account is not read"));
    return reader;
}

// An account whose security choice cannot be read is not connected to: a
// guess could send its password in clear. With `strays`, an account without
// an entry of its own may be the one a stray entry was meant for.
bool CheckSession::securityReadable(const CPOPAccount& account, bool strays) {
    if (!ctx_.store)
        return true;
    const QString text = PopSecurityText(*ctx_.store, account.Name());
    if (strays && text.trimmed().isEmpty()) {
        ctx_.activity.LogActivity(account.Name() + QStringLiteral(": no POP3 security entry of its own while another "
                                                                  "names no account; the account is not read"));
        return false;
    }
    if (ParseSecurity(text))
        return true;
    ctx_.activity.LogActivity(account.Name() +
                              QStringLiteral(": the security setting \"%1\" is not one of automatic, TLS, "
                                             "STARTTLS required, none; the account is not read")
                                  .arg(oneLine(text)));
    return false;
}

namespace {
std::int16_t countOf(int messages) { return static_cast<std::int16_t>(std::clamp(messages, 0, 32767)); }
} // namespace

bool CheckSession::readAccount(CPOPAccount& account, bool download, ReadTally& tally) {
    using Login = MailboxReader::Login;
    if (download && ctx_.state.cancel) {
        tally.failure = true;
        return false;
    }
    ctx_.activity.LogActivity(QStringLiteral("Checking email in ") + account.Name());
    if (const QString needed = ctx_.signInNeeded ? ctx_.signInNeeded(account.Name()) : QString(); !needed.isEmpty()) {
        // Said once when the sign-in was refused; no login is tried until
        // the account signs in again.
        ctx_.status.SetStatusLine(account.Name() + QStringLiteral(": sign in again"));
        ctx_.state.terminal.Append(account.Name() + QStringLiteral(": not read: ") + needed);
        ++outcome_.accountsNotRead;
        (download ? tally.failure : tally.countFailure) = true;
        return true;
    }
    reader_ = securityReadable(account, tally.straySecurity) ? readerFor(account) : nullptr;
    if (!reader_) {
        ++outcome_.accountsNotRead;
        (download ? tally.failure : tally.countFailure) = true;
        return true;
    }
    // A socket error of an earlier account does not fail this one's login.
    ctx_.state.internetError = false;
    ctx_.status.SetStatusLine(QStringLiteral("Connecting to ") + account.Name());
    readInClear_ = false;
    transport_ = MailTransport::Unknown;
    const Login login = reader_->LogIn(account, kLoginWait);
    // Remote commands weigh how the mailbox was read: the connection is
    // encrypted unless the account chose "none" or the server offered no TLS.
    transport_ = PopSecurityForCheck(ctx_.store, account.Name()) == Security::None ? MailTransport::ClearChosen
                 : readInClear_                                                    ? MailTransport::Clear
                                                                                   : MailTransport::Tls;
    switch (login) {
    case Login::Refused:
    case Login::Failed:
        ++outcome_.accountsNotRead;
        // A login the user cancelled is told once, at the end of the check.
        if (!ctx_.state.cancel)
            ctx_.activity.LogActivity(
                account.Name() +
                (login == Login::Refused && !reader_->LoginProblem().isEmpty()
                     ? QStringLiteral(": could not sign in: ") + reader_->LoginProblem()
                 : login == Login::Refused
                     ? QStringLiteral(": login refused by the server (check the user name and password)")
                     : QStringLiteral(": could not log in")));
        if (download) {
            tally.failure = true;
            return true;
        }
        break;
    case Login::NoCount:
        account.SetMessages(countOf(reader_->MessageCount()));
        (download ? tally.failure : tally.countFailure) = true;
        ++outcome_.accountsNotRead;
        ctx_.activity.LogActivity(account.Name() + QStringLiteral(": could not log in"));
        break;
    case Login::Done: {
        const int count = reader_->MessageCount();
        account.SetMessages(countOf(count));
        const QString text =
            count < 1 ? QStringLiteral("No Mail Waiting") : QStringLiteral("Messages Waiting = %1").arg(count);
        ctx_.status.SetStatusLine(text);
        ctx_.activity.LogActivity(text);
        if (download)
            readMailbox(account, tally);
        break;
    }
    }
    reader_->Close();
    if (!download)
        tally.total += reader_->MessageCount();
    return true;
}

void CheckSession::readMailbox(CPOPAccount& account, ReadTally& tally) {
    AccountRead read{account, reader_->MessageCount()};
    read.uids = uniqueIds(account, read.count);
    readMessages(read, tally);
    reportFaults(account, read.faults);
    // Also a download cut off by a socket error or a time-out.
    if (read.faults.noAnswer || !read.faults.refused.isEmpty() || ctx_.state.internetError)
        ++outcome_.accountsNotRead;
    ctx_.updateSettings();
}

void CheckSession::finishReading(bool download, const ReadTally& tally) {
    Inbox& inbox = ctx_.inbox;
    if (download) {
        ctx_.updateEmailDisplay(inbox.Count());
        if (ctx_.state.settings.remoteControlEnabled && !(ctx_.dryRun && ctx_.dryRun()))
            inbox.CheckRemoteCmd();
        if (!tally.failure && !ctx_.state.cancel)
            inbox.PurgeOld();
        return;
    }
    const auto t = static_cast<std::int16_t>(std::clamp<long long>(tally.total, 0, 32767));
    ctx_.updateEmailDisplay(t);
    if (tally.countFailure) {
        ctx_.state.newMailFlag = false;
    } else {
        ctx_.state.newMailFlag = t != previousTotal_ && t != 0;
        previousTotal_ = t;
    }
}

QHash<int, QString> CheckSession::uniqueIds(const CPOPAccount& account, int count) {
    if (count < 1 || ctx_.state.internetError)
        return {};
    QHash<int, QString> uids = reader_->UniqueIds(count); // none: every header is asked for
    // The mailbox is named by server and user (a port may change, say to
    // pass a relay, and still lead to the same mailbox).
    const QString scope = account.Server().toLower() + QLatin1Char('/') + account.Username() + QLatin1Char(' ');
    // The inbox keeps them as keys: built at their exact length, and one
    // it has already shares its text.
    QString scoped;
    for (QString& uid : uids) {
        scoped.clear();
        scoped.reserve(scope.size() + uid.size());
        scoped += scope;
        scoped += uid;
        uid = ctx_.inbox.SharedUid(scoped);
    }
    return uids;
}

void CheckSession::readMessages(AccountRead& read, ReadTally& tally) {
    Inbox& inbox = ctx_.inbox;
    const bool& cancel = ctx_.state.cancel;
    read.sizeLimit = static_cast<qint64>(ctx_.state.settings.messageSizeLimit) * 1024;
    // Computed once: what a remembered spam verdict must match to stand.
    read.rules = read.uids.isEmpty() ? QString() : ctx_.filters.Fingerprint();
    for (int m = 1; m <= read.count; ++m) {
        const QString uid = read.uids.value(m);
        const std::optional<Inbox::KnownEntry> known = knownFor(read, m);
        if (!known && !read.uids.isEmpty() && !read.batched.contains(m) && !ctx_.state.internetError)
            requestAhead(read, m);
        if (known && known->unreadable) {
            // Its header was too big to read; that was said when it came.
            inbox.SeeKnown(uid);
            tell(read, m, QStringLiteral("header too big (passed over before)"));
        } else if (known && !known->filteredBy.isEmpty()) {
            // Removed as spam before, by the same rules: the same lines as
            // reading, downloading and filtering it again would give.
            inbox.SeeKnown(uid);
            tell(read, m, QStringLiteral("filtered (by the same rules at an earlier check)"));
            if (known->size >= read.sizeLimit)
                ctx_.activity.LogActivity(QStringLiteral("Message #%1 was skipped due to size.").arg(m));
            ctx_.activity.LogActivity(QStringLiteral("Message #%1 was deleted (SPAM)").arg(m));
        } else {
            HeaderFault fault = HeaderFault::None;
            const QString key = known ? keepKnown(uid, *known) : readHeader(read, m, fault);
            if (!key.isEmpty()) {
                if (!uid.isEmpty() && !known)
                    inbox.SetKnown(uid, KnownHeader::Of(inbox.Item(key)));
                takeMessage(read, m, key, tally);
            } else if (fault == HeaderFault::TooBig) {
                // Passed over, and by its unique ID not asked for again.
                tell(read, m, QStringLiteral("header too big, passed over"));
                read.faults.tooBig << m;
                if (!uid.isEmpty()) {
                    KnownHeader unreadable;
                    unreadable.unreadable = true;
                    inbox.SetKnown(uid, std::move(unreadable));
                }
            } else {
                tally.failure = true;
                tell(read, m,
                     fault == HeaderFault::NoAnswer  ? QStringLiteral("not read: no answer to its header request")
                     : fault == HeaderFault::Refused ? QStringLiteral("not read: the server refused its header")
                                                     : QStringLiteral("not read: no Message-ID"));
                if (fault == HeaderFault::NoAnswer) {
                    // The connection is gone: the later requests could not be answered either.
                    read.faults.noAnswer = m;
                    return;
                }
                if (fault == HeaderFault::Refused)
                    read.faults.refused << m;
                else if (fault == HeaderFault::NoMessageId)
                    read.faults.noMessageId << m;
            }
        }
        if (cancel) {
            tally.failure = true;
            return;
        }
    }
}

std::optional<Inbox::KnownEntry> CheckSession::knownFor(const AccountRead& read, int n) const {
    const QString uid = read.uids.value(n);
    std::optional<Inbox::KnownEntry> known = uid.isEmpty() ? std::nullopt : ctx_.inbox.Entry(uid);
    if (known && !known->filteredBy.isEmpty() && known->filteredBy != read.rules)
        return std::nullopt; // the rules changed: read it again
    return known;
}

void CheckSession::requestAhead(AccountRead& read, int m) {
    // The header requests of the next unknown messages, in one batch where
    // the server allows it; a single one goes the usual way.
    QList<int> wanted{m};
    for (int n = m + 1; n <= read.count && wanted.size() < kHeaderBatch; ++n)
        if (!knownFor(read, n))
            wanted << n;
    if (wanted.size() < 2)
        return;
    if (!read.batches)
        read.batches = reader_->OffersBatches();
    // Only the requests whose own answer arrived are kept; the first without
    // one meets "no answer" when it is asked for on its own.
    if (*read.batches)
        reader_->RequestHeaders(wanted, read.batched);
}

namespace {
// "#2", "#2, #5", at most ten numbers and then how many more.
QString messageNumbers(const QList<int>& numbers) {
    constexpr int kShown = 10;
    QStringList shown;
    for (qsizetype i = 0; i < numbers.size() && i < kShown; ++i)
        shown << QStringLiteral("#%1").arg(numbers[i]);
    QString text = shown.join(QStringLiteral(", "));
    if (numbers.size() > kShown)
        text += QStringLiteral(" and %1 more").arg(numbers.size() - kShown);
    return text;
}

QString oneLine(const QString& text) {
    QString out = text.left(60);
    for (QChar& c : out)
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    return out;
}
} // namespace

// One line per kind of fault and account, whatever the number of messages.
void CheckSession::reportFaults(const CPOPAccount& account, const AccountFaults& faults) {
    const QString name = account.Name();
    auto plural = [](const QList<int>& numbers) {
        return numbers.size() == 1 ? QStringLiteral("message ") : QStringLiteral("messages ");
    };
    if (!faults.refused.isEmpty())
        ctx_.activity.LogActivity(name + QStringLiteral(": the server refused the header of ") +
                                  plural(faults.refused) + messageNumbers(faults.refused) +
                                  QStringLiteral("; not paged this time"));
    if (!faults.noMessageId.isEmpty())
        ctx_.activity.LogActivity(name + QStringLiteral(": no Message-ID: header in ") + plural(faults.noMessageId) +
                                  messageNumbers(faults.noMessageId) +
                                  QStringLiteral("; not paged, and nothing is purged while it stays on the server"));
    if (!faults.tooBig.isEmpty())
        ctx_.activity.LogActivity(name +
                                  (faults.tooBig.size() == 1 ? QStringLiteral(": the header of message ")
                                                             : QStringLiteral(": the headers of messages ")) +
                                  messageNumbers(faults.tooBig) +
                                  (faults.tooBig.size() == 1 ? QStringLiteral(" is") : QStringLiteral(" are")) +
                                  QStringLiteral(" larger than 1 MiB; passed over and not paged"));
    if (faults.noAnswer)
        ctx_.activity.LogActivity(name + QStringLiteral(": no answer to the header request for message #%1; "
                                                        "reading stopped, nothing is purged this time")
                                             .arg(faults.noAnswer));
}

std::int32_t CheckSession::listedSize(AccountRead& read, int m) {
    // Asked for once per account: the list has every message's size.
    if (!read.sizes)
        read.sizes = reader_->Sizes();
    return read.sizes->value(m, 0);
}

QString CheckSession::keepKnown(const QString& uid, const Inbox::KnownEntry& known) {
    Inbox& inbox = ctx_.inbox;
    inbox.SeeKnown(uid);
    if (!inbox.IsNewMail(known.id)) {
        inbox.KeepMessage(known.id);
        return known.id;
    }
    // A record that is a message held here never gets here: it is not new.
    std::unique_ptr<CMail> mail = known.record ? known.record->ToMail() : std::make_unique<CMail>();
    if (!known.record)
        mail->SetID(known.id);
    mail->SetNewMessage(true);
    const QString id = known.id;
    inbox.Add(std::move(mail), id);
    seen_.insert(id, ctx_.pump.now());
    return id;
}

QString CheckSession::readHeader(AccountRead& read, int m, HeaderFault& fault) {
    using Status = MailboxReader::HeaderAnswer::Status;
    MailboxReader::HeaderAnswer answer;
    if (const auto batched = read.batched.find(m); batched != read.batched.end()) {
        // Answered in a batch (also when the connection broke after it).
        answer = std::move(*batched);
        read.batched.erase(batched);
    } else {
        answer = reader_->Header(m);
    }
    switch (answer.status) {
    case Status::NoAnswer: fault = HeaderFault::NoAnswer; return {};
    case Status::Refused: fault = HeaderFault::Refused; return {};
    case Status::TooBig: fault = HeaderFault::TooBig; return {};
    case Status::Answered: break;
    }
    auto mail = std::make_unique<CMail>();
    mail->FillFromHeader(answer.header);
    const QString id = mail->ID();
    if (id.isEmpty()) {
        fault = HeaderFault::NoMessageId;
        return {};
    }
    fault = HeaderFault::None;
    Inbox& inbox = ctx_.inbox;
    mail->SetNewMessage(inbox.IsNewMail(id));
    if (!mail->NewMessage()) {
        inbox.KeepMessage(id);
        return id;
    }
    // Servers that answer the header request with a bare "+OK" announce no
    // size there; their message list has it.
    if (mail->Size() == 0)
        mail->SetSize(listedSize(read, m));
    inbox.Add(std::move(mail), id);
    seen_.insert(id, ctx_.pump.now());
    return id;
}

void CheckSession::takeMessage(AccountRead& read, int m, const QString& key, ReadTally& tally) {
    Inbox& inbox = ctx_.inbox;
    CMail& mail = inbox.Item(key);
    mail.SetTransport(transport_);
    bool isNew = false;
    bool tooBig = false;
    if (mail.NewMessage() && !mail.Paged() && !mail.Downloaded()) {
        tooBig = mail.Size() >= read.sizeLimit;
        if (!tooBig)
            download(read, m, key);
        else
            ctx_.activity.LogActivity(QStringLiteral("Message #%1 was skipped due to size.").arg(m));
        isNew = true;
    }
    if (const int rule = ctx_.filters.MatchingRule(mail.Subject(), mail.MailTo(), mail.From(), mail.Body())) {
        tell(read, m, QStringLiteral("filtered by rule %1").arg(rule));
        if (const QString uid = read.uids.value(m); !uid.isEmpty()) {
            KnownHeader spam = KnownHeader::Of(mail);
            spam.filteredBy = read.rules;
            inbox.SetKnown(uid, std::move(spam));
        }
        inbox.Remove(key);
        ctx_.activity.LogActivity(QStringLiteral("Message #%1 was deleted (SPAM)").arg(m));
        isNew = false;
    } else if (!mail.NewMessage() || mail.Paged())
        tell(read, m, QStringLiteral("known"));
    else
        tell(read, m,
             tooBig ? QStringLiteral("new, too big to download (paged by its header)") : QStringLiteral("new"));
    // Spam takes back only its own share of the news.
    if (isNew)
        ++tally.newCount;
    ctx_.state.newMailFlag = tally.newCount > 0;
}

void CheckSession::download(AccountRead& read, int m, const QString& key) {
    const bool batches = read.batches.value_or(false);
    if (batches && ctx_.state.internetError && !read.fetched.contains(m)) {
        // The connection broke after a batch of answers: nothing more to ask it.
        ctx_.activity.LogActivity(QStringLiteral("Failed to receive message #%1").arg(m));
        return;
    }
    ctx_.status.SetStatusLine(QStringLiteral("Receiving Message #%1").arg(m));
    std::optional<QString> text;
    if (batches && !read.fetched.contains(m))
        downloadAhead(read, m);
    if (const auto it = read.fetched.find(m); it != read.fetched.end()) {
        text = std::move(*it);
        read.fetched.erase(it);
    } else if (!batches) {
        text = reader_->Message(m);
    }
    if (!text) {
        ctx_.activity.LogActivity(QStringLiteral("Failed to receive message #%1").arg(m));
        return;
    }
    CMail& mail = ctx_.inbox.Item(key);
    mail.SetBody(*text);
    mail.SetDownloaded(true);
    // The message begins with the same header; the page reads it from there.
    mail.SetHeader({});
}

std::optional<bool> CheckSession::willDownload(AccountRead& read, int n) {
    QString id;
    qint64 size = 0;
    if (const std::optional<Inbox::KnownEntry> known = knownFor(read, n)) {
        if (known->unreadable || !known->filteredBy.isEmpty())
            return false;
        id = known->id;
        size = known->size;
    } else {
        const auto it = read.batched.constFind(n);
        if (it == read.batched.cend())
            return std::nullopt;
        if (it->status != MailboxReader::HeaderAnswer::Status::Answered)
            return false;
        CMail probe;
        probe.FillFromHeader(it->header);
        id = probe.ID();
        size = probe.Size();
    }
    if (id.isEmpty())
        return false;
    if (size == 0)
        size = listedSize(read, n);
    if (size >= read.sizeLimit)
        return false;
    if (const CMail* here = ctx_.inbox.Find(id); here && !ctx_.inbox.IsNewMail(id))
        return here->NewMessage() && !here->Paged() && !here->Downloaded();
    return true;
}

void CheckSession::downloadAhead(AccountRead& read, int m) {
    QList<int> wanted{m};
    qint64 bytes = 0;
    for (int n = m + 1; n <= read.count && wanted.size() < kDownloadBatch; ++n) {
        // Past the headers read so far nothing can be told: the batch ends
        // there rather than looking through the rest of the mailbox.
        const std::optional<bool> will = willDownload(read, n);
        if (!will)
            break;
        if (!*will)
            continue;
        bytes += listedSize(read, n);
        if (bytes > kDownloadBatchBytes)
            break;
        wanted << n;
    }
    reader_->RequestMessages(wanted, read.fetched);
}

QString CheckSession::BodyAfterHeaders(const QString& message) {
    qsizetype end = message.indexOf(QLatin1String("\r\n\r\n"));
    qsizetype skip = 4;
    const qsizetype lf = message.indexOf(QLatin1String("\n\n"));
    if (end < 0 || (lf >= 0 && lf < end)) {
        end = lf;
        skip = 2;
    }
    return end < 0 ? QString() : message.mid(end + skip);
}

QString CheckSession::PageText(const CMail& mail, bool withBody) {
    // The page shows the fields decoded, from the header as received; a
    // message known from an earlier run may only have its body, or only
    // its stored (lower-case, undecoded) values.
    QString header = mail.Header();
    if (header.isEmpty()) {
        const QString body = BodyAfterHeaders(mail.Body());
        header = mail.Body().left(mail.Body().size() - body.size());
    }
    headers::PageFields f = headers::ForPage(header);
    if (header.isEmpty())
        f = {mail.From(), mail.Subject(), mail.DateSent()};
    QString text = f.dateSent.trimmed() + QStringLiteral("|From:") + f.from + QStringLiteral("|Subject:") + f.subject;
    if (withBody) {
        // Only the readable text of the body: no MIME structure, no attachments.
        QString body = mimetext::BodyText(mimetext::RawBytes(mail.Body()));
        body.remove(QLatin1Char('\r'));
        text += QLatin1Char('|') + body;
    }
    return text;
}

void CheckSession::pageNewMail(bool page) {
    if (!page) {
        hangUp();
        return;
    }
    const LiveSettings& s = ctx_.state.settings;
    const CPager& pager = ctx_.pagers.Item(1);
    if (s.pageHeaders && s.downloadFlag) {
        pageEachMessage(pager);
        return;
    }
    if (!ctx_.state.newMailFlag) {
        hangUp();
        return;
    }
    pageNotice(pager);
}

int CheckSession::queuePage(const CPager& pager, const QString& address, const QString& text, bool sent) {
    if (!queued_.isValid())
        queued_ = ctx_.pump.now();
    ctx_.queue.Add(pager.ServiceName(), address, text, sent, pager.PagerType());
    return ctx_.queue.Count();
}

void CheckSession::hangUpThenSend(const QHash<int, QStringList>& messages) {
    hangUp();
    pause(2);
    sendPages(messages);
}

void CheckSession::pageEachMessage(const CPager& pager) {
    const LiveSettings& s = ctx_.state.settings;
    Inbox& inbox = ctx_.inbox;
    const auto type = pager.PagerType();
    QHash<int, QStringList> pageOf; // queue position -> the messages whose page it is
    QStringList numericFor;         // messages the one numeric notice stands for
    for (CMail& mail : inbox) {
        if (!mail.NewMessage() || mail.Paged())
            continue;
        const bool withBody = s.pageBody || (s.pageBodyHighestPriority && mail.Priority() == 1);
        const QString text = PageText(mail, withBody);
        switch (type) {
        case PagerAlphaDialUp:
        case PagerWCTP:
        case PagerSNPP:
        case PagerAlphaTCP: pageOf[queuePage(pager, pager.ID(), text)] << mail.ID(); break;
        case PagerAlphaSMTP: pageOf[queuePage(pager, pager.EmailAddress(), text)] << mail.ID(); break;
        case PagerNumeric: numericFor << mail.ID(); break;
        }
    }
    switch (type) {
    case PagerAlphaDialUp: hangUpThenSend(pageOf); break;
    // The pages that go over the internet go before the connection ends.
    case PagerWCTP:
    case PagerSNPP:
    case PagerAlphaTCP:
    case PagerAlphaSMTP:
        sendPages(pageOf);
        hangUp();
        break;
    case PagerNumeric:
        hangUp();
        if (!numericFor.isEmpty()) {
            const QString text = s.numericPagePrefix + QString::number(inbox.Count()) + QLatin1Char('#');
            pageOf[queuePage(pager, pager.DigitalNumber(), text, true)] = numericFor;
            pause(2);
            sendPages(pageOf);
        }
        break;
    }
}

// One notice of the count. Once it is delivered, the downloaded messages it
// was sent for count as paged, so that a later check (or a later run) gives
// a new notice only for new mail.
void CheckSession::pageNotice(const CPager& pager) {
    long long n = 0;
    for (const CPOPAccount& account : ctx_.accounts)
        n += account.Messages();
    const QString notice = QStringLiteral("<EMAIL %1>").arg(n);
    QStringList counted;
    if (ctx_.state.settings.downloadFlag)
        for (const CMail& mail : ctx_.inbox)
            if (mail.NewMessage() && !mail.Paged())
                counted << mail.ID();
    QHash<int, QStringList> pageOf;
    switch (pager.PagerType()) {
    case PagerAlphaDialUp:
        pageOf[queuePage(pager, pager.ID(), notice)] = counted;
        hangUpThenSend(pageOf);
        break;
    case PagerAlphaSMTP:
        pageOf[queuePage(pager, pager.EmailAddress(), notice)] = counted;
        sendPages(pageOf);
        hangUp();
        break;
    case PagerWCTP:
    case PagerSNPP:
    case PagerAlphaTCP:
        pageOf[queuePage(pager, pager.ID(), notice)] = counted;
        sendPages(pageOf);
        hangUp();
        break;
    case PagerNumeric:
        pageOf[queuePage(pager, pager.DigitalNumber(),
                         ctx_.state.settings.numericPagePrefix + QString::number(n) + QLatin1Char('#'))] = counted;
        hangUpThenSend(pageOf);
        break;
    }
}

namespace {
bool onTheModem(PagerType t) {
    switch (t) {
    case PagerAlphaDialUp:
    case PagerNumeric: return true;
    case PagerAlphaSMTP:
    case PagerWCTP:
    case PagerSNPP:
    case PagerAlphaTCP: return false;
    }
    return false;
}

// A Date field as RFC 5322 writes it (the inbox may keep it in lower case).
QDateTime mailDate(const QString& text) {
    QString t = text.trimmed().left(80);
    QDateTime d = QDateTime::fromString(t, Qt::RFC2822Date);
    if (d.isValid())
        return d;
    for (qsizetype i = 0; i < t.size(); ++i)
        if (t[i].isLetter() && (i == 0 || !t[i - 1].isLetter()))
            t[i] = t[i].toUpper();
    return QDateTime::fromString(t, Qt::RFC2822Date);
}

// How a pager of the chain is named in lines: its user name, or "pager 1".
QString nameOf(const CPager& p, int step) {
    return p.Username().isEmpty() ? QStringLiteral("pager %1").arg(step + 1) : p.Username();
}

QString wayOf(const CPager& p) {
    switch (p.PagerType()) {
    case PagerAlphaDialUp: return QStringLiteral("modem %1").arg(p.ID());
    case PagerAlphaSMTP: return QStringLiteral("e-mail %1").arg(p.EmailAddress());
    case PagerNumeric: return QStringLiteral("numeric %1").arg(p.DigitalNumber());
    case PagerWCTP: return QStringLiteral("WCTP %1").arg(p.ID());
    case PagerSNPP: return QStringLiteral("SNPP %1").arg(p.ID());
    case PagerAlphaTCP: return QStringLiteral("TCP terminal %1").arg(p.ID());
    }
    return {};
}
} // namespace

PageLedger::Journey CheckSession::journeyOf(const QStringList& ids, const QList<const CPager*>& chain, int step) const {
    PageLedger::Journey j;
    j.queued = queued_;
    if (!chain.isEmpty()) {
        j.attempt = step + 1;
        j.pagerName = nameOf(*chain[step], step);
    }
    // The page's journey starts with its oldest mail.
    for (const QString& id : ids) {
        QDateTime seen = ctx_.ledger ? ctx_.ledger->FirstSeen(id) : QDateTime();
        if (!seen.isValid())
            seen = seen_.value(id);
        if (seen.isValid() && (!j.firstSeen.isValid() || seen < j.firstSeen))
            j.firstSeen = seen;
        if (const CMail* mail = ctx_.inbox.Find(id)) {
            const QDateTime date = mailDate(mail->DateSent());
            if (date.isValid() && (!j.mailDate.isValid() || date < j.mailDate))
                j.mailDate = date;
        }
    }
    if (!j.firstSeen.isValid())
        j.firstSeen = queued_;
    return j;
}

void CheckSession::sendPages(const QHash<int, QStringList>& messages) {
    const QList<const CPager*> chain = ctx_.pagerChain ? ctx_.pagerChain() : QList<const CPager*>{};
    if (chain.size() <= 1) {
        sendRound(messages, chain, 0, {}, nullptr, nullptr);
        return;
    }
    // Pages pager 1 did not deliver go on to the next pager of the chain
    // at once, each pager after its own sender's retries.
    QList<Unsent> unsent;
    QList<UndeliveredPage> undelivered;
    sendRound(messages, chain, 0, {}, &unsent, &undelivered);
    bool online = !onTheModem(chain.first()->PagerType());
    for (int step = 1; step < chain.size() && !unsent.isEmpty(); ++step) {
        const CPager& pager = *chain[step];
        if (ctx_.state.cancel)
            break;
        QHash<int, QStringList> pageOf;
        QHash<int, Unsent> carried;
        const QList<Unsent> pages = std::exchange(unsent, {});
        for (const Unsent& u : pages) {
            const QString notice =
                QStringLiteral("<EMAIL %1>").arg(std::max<qsizetype>(1, static_cast<qsizetype>(u.ids.size())));
            int at = 0;
            switch (pager.PagerType()) {
            case PagerAlphaDialUp:
            case PagerWCTP:
            case PagerSNPP:
            case PagerAlphaTCP: at = queuePage(pager, pager.ID(), u.digits ? notice : u.text); break;
            case PagerAlphaSMTP: at = queuePage(pager, pager.EmailAddress(), u.digits ? notice : u.text); break;
            case PagerNumeric:
                at = queuePage(pager, pager.DigitalNumber(),
                               ctx_.state.settings.numericPagePrefix +
                                   QString::number(std::max<qsizetype>(1, static_cast<qsizetype>(u.ids.size()))) +
                                   QLatin1Char('#'),
                               true);
                break;
            }
            pageOf[at] = u.ids;
            carried[at] = u;
        }
        // The modem line is free for a modem page; a page over the
        // internet needs the connection.
        if (onTheModem(pager.PagerType())) {
            hangUp();
            online = false;
            pause(2);
        } else if (!online) {
            guarded("Check: ", [&] { online = ctx_.connection.Connect(); });
        }
        sendRound(pageOf, chain, step, carried, &unsent, &undelivered);
    }
    // Cancelled on the way: what is left is tried again at the next check.
    for (const Unsent& u : unsent) {
        ++outcome_.pagesNotDelivered;
        for (const QString& id : u.ids)
            if (const CMail* mail = ctx_.inbox.Find(id)) {
                ctx_.activity.LogActivity(QStringLiteral("Page for \"%1\" from %2 not delivered (cancelled); tried "
                                                         "again at the next check")
                                              .arg(oneLine(mail->Subject()), oneLine(mail->From())));
            }
    }
    if (!undelivered.isEmpty() && ctx_.undeliverable)
        guarded("Check: ", [&] { ctx_.undeliverable(undelivered); });
    if (online)
        hangUp();
}

void CheckSession::sendRound(const QHash<int, QStringList>& messages, const QList<const CPager*>& chain, int step,
                             const QHash<int, Unsent>& carried, QList<Unsent>* unsent,
                             QList<UndeliveredPage>* undelivered) {
    Inbox& inbox = ctx_.inbox;
    const bool chained = unsent != nullptr;
    const bool lastPager = !chained || step + 1 >= chain.size();
    // Opened by the program before a paging check; a check run on its own
    // (as under test) records nothing.
    PageLedger* ledger = ctx_.ledger && ctx_.ledger->IsOpen() ? ctx_.ledger : nullptr;
    bool unrecorded = false; // the ledger failed: nothing more goes out
    auto record = [&](PageLedger::Event event, int position) {
        QString why;
        if (unrecorded || !ledger)
            return !unrecorded;
        const CPagerMessage& page = ctx_.queue.Item(position);
        const QString receipt = event == PageLedger::Event::Delivered ? page.Receipt() : QString();
        if (ledger->Append(event, messages.value(position), page.Service() + QLatin1Char(' ') + page.PagerID(),
                           page.Service(), receipt, &why, journeyOf(messages.value(position), chain, step)))
            return true;
        unrecorded = true;
        ctx_.activity.LogActivity(QStringLiteral("Pages cannot be recorded (%1); no more pages are sent").arg(why));
        return false;
    };
    // One line per mail of a page.
    auto mailsOf = [&](const QStringList& ids) {
        QStringList out;
        for (const QString& id : ids)
            if (const CMail* mail = inbox.Find(id))
                out << QStringLiteral("\"%1\" from %2").arg(oneLine(mail->Subject()), oneLine(mail->From()));
        return out;
    };
    // A page of the chain: delivered, passed on to the next pager, or (on
    // the last one) given up.
    auto chainOutcome = [&](int position, bool delivered) {
        const CPagerMessage& page = ctx_.queue.Item(position);
        const QStringList ids = messages.value(position);
        const CPager& pager = *chain[step];
        using Event = PageLedger::Event;
        if (delivered) {
            for (const QString& id : ids)
                if (CMail* mail = inbox.Find(id))
                    mail->SetPaged(true);
            if (step > 0)
                ctx_.activity.LogActivity(
                    QStringLiteral("Page delivered by fallback pager %1 (%2)").arg(nameOf(pager, step), wayOf(pager)));
            record(Event::Delivered, position);
            return;
        }
        Unsent u = carried.value(position);
        if (step == 0) {
            u.text = page.Message();
            u.digits = page.PagerType() == PagerNumeric;
            u.ids = ids;
        }
        const QString reason = page.Refused() ? QStringLiteral("refused: %1").arg(oneLine(page.Reason()))
                                              : QStringLiteral("not delivered");
        u.tried << QStringLiteral("%1 (%2): %3").arg(nameOf(pager, step), wayOf(pager), reason);
        const QStringList mails = mailsOf(ids);
        const QString which = mails.isEmpty() ? QStringLiteral("Page") : QStringLiteral("Page for ") + mails.first();
        if (!lastPager) {
            const CPager& next = *chain[step + 1];
            ctx_.activity.LogActivity(QStringLiteral("%1 not delivered by %2; trying fallback pager %3 (%4)")
                                          .arg(which, nameOf(pager, step), nameOf(next, step + 1), wayOf(next)));
            unsent->append(u);
            record(Event::Failed, position);
            return;
        }
        ++outcome_.pagesNotDelivered;
        for (const QString& id : ids)
            if (CMail* mail = inbox.Find(id)) {
                mail->SetPageAttempts(static_cast<std::int16_t>(std::min(32767, mail->PageAttempts() + 1)));
                mail->SetPaged(true); // never tried again
            }
        ctx_.activity.LogActivity(
            QStringLiteral("%1 not delivered by any of %2 pagers; given up").arg(which).arg(chain.size()));
        UndeliveredPage lost;
        lost.text = u.text;
        lost.mails = mails;
        lost.tried = u.tried;
        lost.firstSeen = journeyOf(ids, chain, step).firstSeen;
        undelivered->append(lost);
        record(Event::GivenUp, position);
    };
    // Marked as each outcome arrives, so that an error later in the walk
    // cannot lose what was already delivered.
    auto finished = [&](int position, bool delivered) {
        if (!delivered && unrecorded) {
            ++outcome_.pagesNotDelivered;
            return; // never tried: no attempt counts against its messages
        }
        if (chained) {
            chainOutcome(position, delivered);
            return;
        }
        if (!delivered)
            ++outcome_.pagesNotDelivered;
        bool givenUp = false;
        // The service refused the page for good: it is not tried again.
        const CPagerMessage& page = ctx_.queue.Item(position);
        const bool refused = !delivered && page.Refused();
        for (const QString& id : messages.value(position)) {
            CMail* mail = inbox.Find(id);
            if (!mail)
                continue;
            if (delivered) {
                mail->SetPaged(true);
                continue;
            }
            const int attempts = mail->PageAttempts() + 1;
            mail->SetPageAttempts(static_cast<std::int16_t>(attempts));
            const QString which = QStringLiteral("Page for \"%1\" from %2 not delivered")
                                      .arg(oneLine(mail->Subject()), oneLine(mail->From()));
            if (refused) {
                mail->SetPaged(true); // never tried again
                givenUp = true;
                ctx_.activity.LogActivity(
                    which +
                    QStringLiteral(": the pager service refused it (%1); given up").arg(oneLine(page.Reason())));
            } else if (attempts >= kMaxPageAttempts) {
                mail->SetPaged(true); // never tried again
                givenUp = true;
                ctx_.activity.LogActivity(which + QStringLiteral(" after %1 attempts; given up").arg(attempts));
            } else {
                ctx_.activity.LogActivity(which + QStringLiteral(" (attempt %1 of %2); tried again at the next check")
                                                      .arg(attempts)
                                                      .arg(kMaxPageAttempts));
            }
        }
        using Event = PageLedger::Event;
        record(delivered ? Event::Delivered : givenUp ? Event::GivenUp : Event::Failed, position);
    };
    ctx_.sendQueue(finished, [&](int position) { return record(PageLedger::Event::Sending, position); });
}

} // namespace tessaly
