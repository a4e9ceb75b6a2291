#include "features/mail/checksession.h"

#include "state/commstatus.h"
#include "state/appstate.h"
#include "state/livesettings.h"
#include "features/mail/cmail.h"
#include "features/connection/connection.h"
#include "features/mail/cpopaccount.h"
#include "features/mail/headerfields.h"
#include "features/paging/cpager.h"
#include "features/paging/smtpevents.h"
#include "ground/mimetext.h"
#include "ground/remotetext.h"
#include "ground/sockerr.h"
#include "ground/tessalyerror.h"
#include "platform/eventpump.h"
#include "platform/popcontrol.h"
#include "state/mailsecurity.h"

#include <QSet>
#include <algorithm>

namespace tessaly {

namespace {
const QString kCRLF = QStringLiteral("\r\n");
} // namespace

CheckSession::CheckSession(MailContext ctx) : ctx_(std::move(ctx)) {
    if (PopControl* pop = ctx_.pop) {
        connect(pop, &PopControl::dataReceived, this, [this](const QString& text) {
            // A remote command message shows without its password.
            terminal(QStringLiteral("POP Recv: ") + HideRemotePassword(text, ctx_.state.settings.remotePassword) + kCRLF);
            if (newResponse_) {
                lastReply_ = response_;
                ++repliesCompleted_;
                response_ = text;
                newResponse_ = false;
            } else {
                response_ += text;
            }
        });
        connect(pop, &PopControl::packetSent, this, [this] {
            terminal(QStringLiteral("POP Packet Sent: ") + kCRLF);
            newResponse_ = true;
        });
        connect(pop, &PopControl::socketClosed, this, [this] {
            terminal(QStringLiteral("POP Socket Closed...: ") + kCRLF);
            newResponse_ = true;
        });
        connect(pop, &PopControl::loginComplete, this, [this, pop] {
            messageCount_ = pop->MessageCount();
            loggedIn_ = true;
        });
        connect(pop, &PopControl::secureFailed, this, [this](const QString& text) {
            ctx_.activity.LogActivity(accountName_ + QStringLiteral(": ") + text);
            ctx_.state.internetError = true;
        });
        connect(pop, &PopControl::clearText, this, [this, pop] {
            if (toldClear_.contains(accountName_))
                return;
            toldClear_.insert(accountName_);
            ctx_.activity.LogActivity(accountName_ + QStringLiteral(": ") + pop->Server() +
                                      QStringLiteral(" offers no TLS; mail is read without encryption"));
        });
        connect(pop, &PopControl::error, this,
                [this](int number, const QString&) { socketError(QStringLiteral("POP"), QStringLiteral("POP"), number); });
    }
    if (TcpControl* tcp = ctx_.tcp) {
        connect(tcp, &TcpControl::packetSent, this,
                [this] { terminal(QStringLiteral("TCP Packet Sent: ") + lastTcpText_ + kCRLF); });
        // The raw TCP control's errors show in the terminal like the mail-sending control's.
        connect(tcp, &TcpControl::error, this,
                [this](int number, const QString&) { socketError(QStringLiteral("TCP"), QStringLiteral("SMTP"), number); });
    }
}

void CheckSession::terminal(const QString& line) { ctx_.state.terminal.Append(line); }

void CheckSession::socketError(const QString& logName, const QString& terminalName, int number) {
    const QString text = sockerr::Text(number);
    ctx_.activity.LogActivity(QStringLiteral("Winsock Error using ") + logName + QStringLiteral(": ") + text);
    terminal(SocketErrorTerminalLine(terminalName, number, text));
    ctx_.state.internetError = true;
}

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
        ctx_.minuteTimer.start();
        outcome_.cancelled = ctx_.state.cancel;
        running_ = false;
        return;
    }
    outcome_.connected = true;
    ctx_.activity.LogActivity(QStringLiteral("Internet: Connection established..."));
    if (ctx_.state.settings.versionCheckFlag && ctx_.checkVersion)
        guarded("Check: ", [&] { ctx_.checkVersion(); });
    // An error while reading ends the reading; paging still runs.
    if (!guarded("Check: ", [&] { readAccounts(download); })) {
        ++outcome_.accountsNotRead;
        guarded("Check: ", [&] { ctx_.pop->Close(); });
    }
    // Whatever happens while paging, the connection is not left open.
    if (!guarded("Check: ", [&] { pageNewMail(page); }))
        guarded("Check: ", [&] { hangUp(); });
    ctx_.minuteTimer.start();
    outcome_.cancelled = ctx_.state.cancel;
    running_ = false;
}

void CheckSession::readAccounts(bool download) {
    PopControl& pop = *ctx_.pop;
    TcpControl& tcp = *ctx_.tcp;
    Inbox& inbox = ctx_.inbox;
    const bool& cancel = ctx_.state.cancel;
    EventPump& pump = ctx_.pump;

    ctx_.state.internetError = false;
    ctx_.state.newMailFlag = false;
    pop.Reset();
    pop.SetCancelFlag(&cancel);
    pump.yield();
    if (cancel)
        return;
    bool failure = false;
    bool countFailure = false;
    int newCount = 0; // new messages of this check that the filters let through
    long long total = 0;
    if (download)
        inbox.ResetKeep();

    for (CPOPAccount& account : ctx_.accounts) {
        if (!account.CheckMail())
            continue;
        if (download && cancel) {
            failure = true;
            break;
        }
        ctx_.activity.LogActivity(QStringLiteral("Checking email in ") + account.Name());
        // A socket error of an earlier account does not fail this one's login.
        ctx_.state.internetError = false;
        const int loginResult = login(account);
        const bool loggedIn = loginResult == 0;
        if (!loggedIn) {
            ++outcome_.accountsNotRead;
            ctx_.activity.LogActivity(loginResult == PopControl::NegativeReply
                                          ? account.Name() + QStringLiteral(": login refused by the server (check the user name and password)")
                                          : account.Name() + QStringLiteral(": could not log in"));
        }
        if (!loggedIn && download) {
            failure = true;
            continue;
        }
        if (loggedIn) {
            pump.waitUntil([&] { return loggedIn_ || ctx_.state.internetError || cancel; }, kLoginWait, &cancel);
            account.SetMessages(static_cast<std::int16_t>(std::clamp(messageCount_, 0, 32767)));
            if (!loggedIn_) {
                (download ? failure : countFailure) = true;
                ++outcome_.accountsNotRead;
                ctx_.activity.LogActivity(account.Name() + QStringLiteral(": could not log in"));
            } else {
                const QString text = messageCount_ < 1 ? QStringLiteral("No Mail Waiting")
                                                       : QStringLiteral("Messages Waiting = %1").arg(messageCount_);
                ctx_.status.SetStatusLine(text);
                ctx_.activity.LogActivity(text);
                if (download) {
                    listRead_ = false;
                    listSizes_.clear();
                    uids_ = readUniqueIds(account, messageCount_);
                    batches_ = false;
                    answers_.clear();
                    AccountFaults faults;
                    readMessages(messageCount_, failure, newCount, faults);
                    // Not needed past this account; a large mailbox's lists are sizeable.
                    uids_ = {};
                    listSizes_ = {};
                    answers_ = {};
                    reportFaults(account, faults);
                    // Also a download cut off by a socket error or a time-out.
                    if (faults.noAnswer || !faults.refused.isEmpty() || ctx_.state.internetError)
                        ++outcome_.accountsNotRead;
                    ctx_.updateSettings();
                }
            }
        }
        pop.Close();
        tcp.SetSocket(0);
        if (!download)
            total += messageCount_;
    }

    if (download) {
        ctx_.updateEmailDisplay(inbox.Count());
        if (ctx_.state.settings.remoteControlEnabled)
            inbox.CheckRemoteCmd();
        if (!failure && !cancel)
            inbox.PurgeOld();
    } else {
        const auto t = static_cast<std::int16_t>(std::clamp<long long>(total, 0, 32767));
        ctx_.updateEmailDisplay(t);
        if (countFailure) {
            ctx_.state.newMailFlag = false;
        } else {
            ctx_.state.newMailFlag = t != previousTotal_ && t != 0;
            previousTotal_ = t;
        }
    }
}

int CheckSession::login(CPOPAccount& account) {
    PopControl& pop = *ctx_.pop;
    TcpControl& tcp = *ctx_.tcp;
    EventPump& pump = ctx_.pump;
    loggedIn_ = false;
    pop.SetServer(account.Server());
    pop.SetPort(account.MailPort());
    pop.SetUser(account.Username());
    pop.SetPassword(account.Password());
    accountName_ = account.Name();
    pop.SetSecurity(ctx_.store ? ReadPopSecurity(*ctx_.store, account.Name()) : Security::Automatic);
    pop.SetCaFile(ctx_.store ? LoadMailSecurity(*ctx_.store).caFile : QString());
    ctx_.status.SetStatusLine(QStringLiteral("Connecting to ") + account.Name());
    const int socket = pop.Connect();
    tcp.SetSocket(socket);
    pump.yield();
    if (socket < 1) {
        ctx_.activity.LogActivity(QStringLiteral("Invalid socket number"));
        pop.Close();
        return -1;
    }
    int result = pop.SendUser();
    pump.yield();
    if (result == 0) {
        result = pop.SendPass();
        pump.yield();
    }
    if (result == 0) {
        result = pop.SendStat();
        pump.yield();
    }
    if (result != 0 || ctx_.state.internetError) {
        pop.Close();
        return result != 0 ? result : -1;
    }
    return 0;
}

void CheckSession::readMessages(int count, bool& failure, int& newCount, AccountFaults& faults) {
    Inbox& inbox = ctx_.inbox;
    const bool& cancel = ctx_.state.cancel;
    const qint64 limit = static_cast<qint64>(ctx_.state.settings.messageSizeLimit) * 1024;
    // Computed once: what a remembered spam verdict must match to stand.
    const QString rules = uids_.isEmpty() ? QString() : ctx_.filters.Fingerprint();
    // What is remembered of message `n`; none: its header is asked for.
    auto knownFor = [&](int n) -> const KnownHeader* {
        const QString uid = uids_.value(n);
        const KnownHeader* known = uid.isEmpty() ? nullptr : inbox.Known(uid);
        if (known && !known->filteredBy.isEmpty() && known->filteredBy != rules)
            return nullptr; // the rules changed: read it again
        return known;
    };
    bool capaAsked = false;
    for (int m = 1; m <= count; ++m) {
        HeaderFault fault = HeaderFault::None;
        const QString uid = uids_.value(m);
        const KnownHeader* known = knownFor(m);
        if (!known && !uids_.isEmpty() && !answers_.contains(m) && !ctx_.state.internetError) {
            // The header requests of the next unknown messages, in one batch
            // where the server allows it; a single one goes the usual way.
            QList<int> wanted{m};
            for (int n = m + 1; n <= count && wanted.size() < kHeaderBatch; ++n)
                if (!knownFor(n))
                    wanted << n;
            if (wanted.size() > 1 && !capaAsked) {
                capaAsked = true;
                batches_ = offersBatches();
            }
            if (batches_ && wanted.size() > 1)
                requestBatch(wanted);
        }
        if (known && !known->filteredBy.isEmpty()) {
            // Removed as spam before, by the same rules: the same lines as
            // reading, downloading and filtering it again would give.
            inbox.SeeKnown(uid);
            if (known->size >= limit)
                ctx_.activity.LogActivity(QStringLiteral("Message #%1 was skipped due to size.").arg(m));
            ctx_.activity.LogActivity(QStringLiteral("Message #%1 was deleted (SPAM)").arg(m));
            if (cancel) {
                failure = true;
                return;
            }
            continue;
        }
        const QString key = known ? keepKnown(uid, *known) : readHeader(m, fault);
        if (!key.isEmpty() && !uid.isEmpty() && !known)
            inbox.SetKnown(uid, KnownHeader::Of(inbox.Item(key)));
        if (key.isEmpty()) {
            failure = true;
            if (fault == HeaderFault::Refused)
                faults.refused << m;
            else if (fault == HeaderFault::NoMessageId)
                faults.noMessageId << m;
            if (fault == HeaderFault::NoAnswer) {
                // The connection is gone: the later requests could not be answered either.
                faults.noAnswer = m;
                return;
            }
        } else {
            CMail& mail = inbox.Item(key);
            bool isNew = false;
            if (mail.NewMessage() && !mail.Paged() && !mail.Downloaded()) {
                if (mail.Size() < limit)
                    download(m, key);
                else
                    ctx_.activity.LogActivity(QStringLiteral("Message #%1 was skipped due to size.").arg(m));
                isNew = true;
            }
            if (ctx_.filters.CheckForSpam(mail.Subject(), mail.MailTo(), mail.From(), mail.Body())) {
                if (!uid.isEmpty()) {
                    KnownHeader spam = KnownHeader::Of(mail);
                    spam.filteredBy = rules;
                    inbox.SetKnown(uid, std::move(spam));
                }
                inbox.Remove(key);
                ctx_.activity.LogActivity(QStringLiteral("Message #%1 was deleted (SPAM)").arg(m));
                isNew = false;
            }
            // Spam takes back only its own share of the news.
            if (isNew)
                ++newCount;
            ctx_.state.newMailFlag = newCount > 0;
        }
        if (cancel) {
            failure = true;
            return;
        }
    }
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

// A mail's text shortened for one log line, without control characters.
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
        ctx_.activity.LogActivity(name + QStringLiteral(": the server refused the header of ") + plural(faults.refused) +
                                  messageNumbers(faults.refused) + QStringLiteral("; not paged this time"));
    if (!faults.noMessageId.isEmpty())
        ctx_.activity.LogActivity(name + QStringLiteral(": no Message-ID: header in ") + plural(faults.noMessageId) +
                                  messageNumbers(faults.noMessageId) +
                                  QStringLiteral("; not paged, and nothing is purged while it stays on the server"));
    if (faults.noAnswer)
        ctx_.activity.LogActivity(name + QStringLiteral(": no answer to the header request for message #%1; "
                                                        "reading stopped, nothing is purged this time")
                                             .arg(faults.noAnswer));
}

std::int32_t CheckSession::listedSize(int m) {
    // Read once per account: "LIST" answers every message's size.
    if (!listRead_) {
        listRead_ = true;
        PopControl& pop = *ctx_.pop;
        lastTcpText_ = QStringLiteral("LIST\r\n");
        if (ctx_.tcp->SendText(lastTcpText_) == 0) {
            pop.Receive();
            pop.Receive();
            const QStringList lines = lastReply_.split(QLatin1Char('\n'));
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QStringList words = lines[i].trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
                bool okNumber = false, okSize = false;
                const int number = words.value(0).toInt(&okNumber);
                const qlonglong size = words.value(1).toLongLong(&okSize);
                if (okNumber && okSize && words.size() == 2)
                    listSizes_.insert(number, static_cast<std::int32_t>(std::min<qlonglong>(size, INT32_MAX)));
            }
        }
    }
    return listSizes_.value(m, 0);
}

QHash<int, QString> CheckSession::readUniqueIds(const CPOPAccount& account, int count) {
    QHash<int, QString> uids;
    if (count < 1 || ctx_.state.internetError)
        return uids;
    if (!ask(QStringLiteral("UIDL\r\n")))
        return uids; // not offered: every header is asked for
    // The mailbox is named by server and user (a port may change, say to
    // pass a relay, and still lead to the same mailbox).
    const QString scope = account.Server().toLower() + QLatin1Char('/') + account.Username() + QLatin1Char(' ');
    QSet<QString> seen, doubled;
    const QStringView reply(lastReply_);
    qsizetype pos = reply.indexOf(QLatin1Char('\n')) + 1;
    uids.reserve(count);
    while (pos > 0 && pos < reply.size()) {
        qsizetype end = reply.indexOf(QLatin1Char('\n'), pos);
        if (end < 0)
            end = reply.size();
        const QStringView line = reply.mid(pos, end - pos).trimmed();
        pos = end + 1;
        // "number unique-id"; the ID is 1 to 70 printable characters.
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        if (blank < 1)
            continue;
        bool numeric = false;
        const int m = line.left(blank).toInt(&numeric);
        const QStringView id = line.mid(blank + 1);
        if (!numeric || m < 1 || m > count || id.isEmpty() || id.size() > 70 || uids.contains(m))
            continue;
        if (std::any_of(id.begin(), id.end(), [](QChar c) { return c.unicode() < 0x21 || c.unicode() > 0x7e; }))
            continue;
        const QString uid = scope + id.toString();
        if (seen.contains(uid))
            doubled.insert(uid);
        seen.insert(uid);
        uids.insert(m, uid);
    }
    // An ID the server gives twice names neither message for sure.
    if (!doubled.isEmpty())
        uids.removeIf([&](const QHash<int, QString>::iterator it) { return doubled.contains(it.value()); });
    return uids;
}

bool CheckSession::ask(const QString& command) {
    PopControl& pop = *ctx_.pop;
    lastTcpText_ = command;
    const int before = repliesCompleted_;
    if (ctx_.tcp->SendText(lastTcpText_) != 0)
        return false;
    const int status = pop.Receive();
    const int next = pop.Receive();
    return status == 0 && next <= PopControl::NegativeReply && !ctx_.state.internetError &&
           repliesCompleted_ - before >= 2 && lastReply_.startsWith(QLatin1String("+OK"));
}

bool CheckSession::offersBatches() {
    // What the server answered while the connection was opened still holds.
    if (const std::optional<QByteArray> known = ctx_.pop->Capabilities())
        return Offers(*known, "PIPELINING");
    return ask(QStringLiteral("CAPA\r\n")) && Offers(lastReply_.toLatin1(), "PIPELINING");
}

void CheckSession::requestBatch(const QList<int>& numbers) {
    QList<PopControl::HeaderAnswer> answers;
    ctx_.pop->RequestHeaders(numbers, answers);
    // Only the requests whose own answer arrived count; the first without
    // one meets "no answer" as a single request would.
    for (qsizetype i = 0; i < answers.size(); ++i)
        answers_.insert(numbers[i], std::move(answers[i]));
}

QString CheckSession::keepKnown(const QString& uid, const KnownHeader& known) {
    Inbox& inbox = ctx_.inbox;
    inbox.SeeKnown(uid);
    if (!inbox.IsNewMail(known.id)) {
        inbox.KeepMessage(known.id);
        return known.id;
    }
    auto mail = known.ToMail();
    mail->SetNewMessage(true);
    const QString id = known.id;
    inbox.Add(std::move(mail), id);
    return id;
}

QString CheckSession::readHeader(int m, HeaderFault& fault) {
    PopControl& pop = *ctx_.pop;
    fault = HeaderFault::NoAnswer;
    int status = 0;
    QString header;
    if (const auto batched = answers_.constFind(m); batched != answers_.cend()) {
        // Answered in a batch (also when the connection broke after it).
        status = batched->result;
        header = QString::fromLatin1(batched->reply);
        answers_.erase(batched);
    } else {
        if (ctx_.state.internetError) {
            pop.Close();
            return {};
        }
        lastTcpText_ = QStringLiteral("TOP %1 0\r\n").arg(m);
        const int before = repliesCompleted_;
        if (ctx_.tcp->SendText(lastTcpText_) != 0)
            return {};
        status = pop.Receive();
        const int next = pop.Receive();
        // The answer is in the last reply only when this request's reply and the
        // one after it both arrived; otherwise the last reply still holds the
        // answer about the previous message.
        if (status > PopControl::NegativeReply || next > PopControl::NegativeReply || ctx_.state.internetError ||
            repliesCompleted_ - before < 2)
            return {};
        header = lastReply_;
    }
    if (status == PopControl::NegativeReply || !header.startsWith(QLatin1String("+OK"))) {
        fault = HeaderFault::Refused;
        return {};
    }
    auto mail = std::make_unique<CMail>();
    mail->FillFromHeader(header);
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
        mail->SetSize(listedSize(m));
    inbox.Add(std::move(mail), id);
    return id;
}

void CheckSession::download(int m, const QString& key) {
    PopControl& pop = *ctx_.pop;
    if (batches_ && ctx_.state.internetError) {
        // The connection broke after a batch of header answers: nothing more to ask it.
        ctx_.activity.LogActivity(QStringLiteral("Failed to receive message #%1").arg(m));
        return;
    }
    ctx_.status.SetStatusLine(QStringLiteral("Receiving Message #%1").arg(m));
    pop.SetMessageNumber(m);
    const int result = pop.Retrieve();
    ctx_.pump.yield();
    if (result != 0 || ctx_.state.internetError) {
        ctx_.activity.LogActivity(QStringLiteral("Failed to receive message #%1").arg(m));
        return;
    }
    CMail& mail = ctx_.inbox.Item(key);
    mail.SetBody(pop.MessageText());
    mail.SetDownloaded(true);
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
    Inbox& inbox = ctx_.inbox;
    MessageQueue& queue = ctx_.queue;
    const CPager& pager = ctx_.pagers.Item(1);
    const PagerType type = pager.PagerType();
    // Queue position -> the messages whose page it is.
    QHash<int, QStringList> pageOf;
    auto queueTo = [&](const QString& address, const QString& text, bool sent = false) {
        queue.Add(pager.ServiceName(), address, text, sent, type);
        return queue.Count();
    };
    auto hangUpThenSend = [&] {
        hangUp();
        pause(2);
        sendPages(pageOf);
    };

    if (s.pageHeaders && s.downloadFlag) {
        QStringList numericFor; // messages the one numeric notice stands for
        for (CMail& mail : inbox) {
            if (!mail.NewMessage() || mail.Paged())
                continue;
            const bool withBody = s.pageBody || (s.pageBodyHighestPriority && mail.Priority() == 1);
            const QString text = PageText(mail, withBody);
            if (type == 0)
                pageOf[queueTo(pager.ID(), text)] << mail.ID();
            else if (type == 1)
                pageOf[queueTo(pager.EmailAddress(), text)] << mail.ID();
            else
                numericFor << mail.ID();
        }
        if (type == 0) {
            hangUpThenSend();
        } else if (type == 1) {
            sendPages(pageOf);
            hangUp();
        } else {
            hangUp();
            if (!numericFor.isEmpty()) {
                pageOf[queueTo(pager.DigitalNumber(), s.numericPagePrefix + QString::number(inbox.Count()) + QLatin1Char('#'), true)] =
                    numericFor;
                pause(2);
                sendPages(pageOf);
            }
        }
        return;
    }
    if (!ctx_.state.newMailFlag) {
        hangUp();
        return;
    }
    long long n = 0;
    for (const CPOPAccount& account : ctx_.accounts)
        n += account.Messages();
    const QString notice = QStringLiteral("<EMAIL %1>").arg(n);
    if (type == 0) {
        queueTo(pager.ID(), notice);
        hangUpThenSend();
    } else if (type == 1) {
        queueTo(pager.EmailAddress(), notice);
        sendPages(pageOf);
        hangUp();
    } else {
        queueTo(pager.DigitalNumber(), s.numericPagePrefix + QString::number(n) + QLatin1Char('#'));
        hangUpThenSend();
    }
}

void CheckSession::sendPages(const QHash<int, QStringList>& messages) {
    Inbox& inbox = ctx_.inbox;
    // Marked as each outcome arrives, so that an error later in the walk
    // cannot lose what was already delivered.
    ctx_.sendQueue([&](int position, bool delivered) {
        if (!delivered)
            ++outcome_.pagesNotDelivered;
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
            if (attempts >= kMaxPageAttempts) {
                mail->SetPaged(true); // never tried again
                ctx_.activity.LogActivity(which + QStringLiteral(" after %1 attempts; given up").arg(attempts));
            } else {
                ctx_.activity.LogActivity(which + QStringLiteral(" (attempt %1 of %2); tried again at the next check")
                                                      .arg(attempts)
                                                      .arg(kMaxPageAttempts));
            }
        }
    });
}

} // namespace tessaly
