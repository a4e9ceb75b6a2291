#include "app/mail/checksession.h"

#include "app/core/commstatus.h"
#include "app/core/livesettings.h"
#include "app/core/mainprogram.h"
#include "app/core/statusdisplay.h"
#include "app/mail/cmail.h"
#include "app/mail/connection.h"
#include "app/mail/cpopaccount.h"
#include "app/mail/headerfields.h"
#include "app/paging/cpager.h"
#include "app/paging/smtpevents.h"
#include "common/sockerr/sockerr.h"
#include "common/util/tessalyerror.h"
#include "platform/eventpump.h"
#include "platform/popcontrol.h"

#include <algorithm>

namespace tessaly {

namespace {
const QString kCRLF = QStringLiteral("\r\n");
} // namespace

CheckSession::CheckSession(MainProgram& program) : program_(program) {
    const PlatformServices& p = program_.Platform();
    if (PopControl* pop = p.pop) {
        connect(pop, &PopControl::dataReceived, this, [this](const QString& text) {
            terminal(QStringLiteral("POP Recv: ") + text + kCRLF);
            if (newResponse_) {
                lastReply_ = response_;
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
        connect(pop, &PopControl::error, this,
                [this](int number, const QString&) { socketError(QStringLiteral("POP"), QStringLiteral("POP"), number); });
    }
    if (TcpControl* tcp = p.tcp) {
        connect(tcp, &TcpControl::packetSent, this,
                [this] { terminal(QStringLiteral("TCP Packet Sent: ") + lastTcpText_ + kCRLF); });
        // The raw TCP control's errors show in the terminal like the mail-sending control's.
        connect(tcp, &TcpControl::error, this,
                [this](int number, const QString&) { socketError(QStringLiteral("TCP"), QStringLiteral("SMTP"), number); });
    }
}

void CheckSession::terminal(const QString& line) { program_.GetTerminal().Append(line); }

void CheckSession::socketError(const QString& logName, const QString& terminalName, int number) {
    const QString text = sockerr::Text(number);
    program_.LogActivity(QStringLiteral("Winsock Error using ") + logName + QStringLiteral(": ") + text);
    terminal(SocketErrorTerminalLine(terminalName, number, text));
    program_.SetInternetError(true);
}

void CheckSession::pause(double seconds) { program_.Platform().pump.pause(seconds, &program_.CancelFlag()); }

// A step that fails unexpectedly is written to the log and the check goes on.
bool CheckSession::guarded(const char* what, const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const TessalyError& e) {
        program_.LogActivity(QString::fromLatin1(what) + e.description());
    } catch (const std::exception& e) {
        program_.LogActivity(QString::fromLatin1(what) + QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void CheckSession::hangUp() { program_.GetConnection().HangUp(); }

void CheckSession::Check(bool download, bool page) {
    if (running_)
        return; // a check never starts inside another one
    running_ = true;
    StatusWindow& status = program_.Status();
    guarded("Check: ", [&] {
        if (!status.IsLoaded())
            status.Load();
        if (program_.Settings().statusWindowFlag)
            status.Show();
    });
    program_.MinuteTimer().stop();
    program_.SetInternetError(false);
    bool connected = false;
    guarded("Check: ", [&] { connected = program_.GetConnection().Connect(); });
    if (!connected) {
        program_.LogActivity(QStringLiteral("Internet: Connection was not established..."));
        guarded("Check: ", [&] { hangUp(); });
        program_.MinuteTimer().start();
        running_ = false;
        return;
    }
    program_.LogActivity(QStringLiteral("Internet: Connection established..."));
    // An error while reading ends the reading; paging still runs.
    if (!guarded("Check: ", [&] { readAccounts(download); }))
        guarded("Check: ", [&] { program_.Platform().pop->Close(); });
    // Whatever happens while paging, the connection is not left open.
    if (!guarded("Check: ", [&] { pageNewMail(page); }))
        guarded("Check: ", [&] { hangUp(); });
    program_.MinuteTimer().start();
    running_ = false;
}

void CheckSession::readAccounts(bool download) {
    PopControl& pop = *program_.Platform().pop;
    TcpControl& tcp = *program_.Platform().tcp;
    Inbox& inbox = program_.GetInbox();
    StatusDisplay& display = program_.Display();
    const bool& cancel = program_.CancelFlag();
    EventPump& pump = program_.Platform().pump;

    program_.SetInternetError(false);
    display.SetNewMailFlag(false);
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

    for (CPOPAccount& account : program_.POPAccounts()) {
        if (!account.CheckMail())
            continue;
        if (download && cancel) {
            failure = true;
            break;
        }
        program_.LogActivity(QStringLiteral("Checking email in ") + account.Name());
        const bool loggedIn = login(account);
        if (!loggedIn && download) {
            failure = true;
            continue;
        }
        if (loggedIn) {
            pump.waitUntil([&] { return loggedIn_ || program_.InternetError() || cancel; }, kLoginWait, &cancel);
            account.SetMessages(static_cast<std::int16_t>(std::clamp(messageCount_, 0, 32767)));
            if (!loggedIn_) {
                (download ? failure : countFailure) = true;
            } else {
                const QString text = messageCount_ < 1 ? QStringLiteral("No Mail Waiting")
                                                       : QStringLiteral("Messages Waiting = %1").arg(messageCount_);
                program_.Status().SetStatusLine(text);
                program_.LogActivity(text);
                if (download) {
                    listRead_ = false;
                    listSizes_.clear();
                    readMessages(messageCount_, failure, newCount);
                    program_.UpdateSettings();
                }
            }
        }
        pop.Close();
        tcp.SetSocket(0);
        if (!download)
            total += messageCount_;
    }

    if (download) {
        display.UpdateEmailDisplay(inbox.Count());
        if (program_.Settings().remoteControlEnabled)
            inbox.CheckRemoteCmd();
        if (!failure && !cancel)
            inbox.PurgeOld();
    } else {
        const auto t = static_cast<std::int16_t>(std::clamp<long long>(total, 0, 32767));
        display.UpdateEmailDisplay(t);
        if (countFailure) {
            display.SetNewMailFlag(false);
        } else {
            display.SetNewMailFlag(t != previousTotal_ && t != 0);
            previousTotal_ = t;
        }
    }
}

bool CheckSession::login(CPOPAccount& account) {
    PopControl& pop = *program_.Platform().pop;
    TcpControl& tcp = *program_.Platform().tcp;
    EventPump& pump = program_.Platform().pump;
    loggedIn_ = false;
    pop.SetServer(account.Server());
    pop.SetPort(account.MailPort());
    pop.SetUser(account.Username());
    pop.SetPassword(account.Password());
    program_.Status().SetStatusLine(QStringLiteral("Connecting to ") + account.Name());
    const int socket = pop.Connect();
    tcp.SetSocket(socket);
    pump.yield();
    if (socket < 1) {
        program_.LogActivity(QStringLiteral("Invalid socket number"));
        pop.Close();
        return false;
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
    if (result != 0 || program_.InternetError()) {
        pop.Close();
        return false;
    }
    return true;
}

void CheckSession::readMessages(int count, bool& failure, int& newCount) {
    Inbox& inbox = program_.GetInbox();
    const bool& cancel = program_.CancelFlag();
    const qint64 limit = static_cast<qint64>(program_.Settings().messageSizeLimit) * 1024;
    for (int m = 1; m <= count; ++m) {
        const QString key = readHeader(m);
        if (key.isEmpty()) {
            failure = true;
        } else {
            CMail& mail = inbox.Item(key);
            bool isNew = false;
            if (mail.NewMessage() && !mail.Paged() && !mail.Downloaded()) {
                if (mail.Size() < limit)
                    download(m, key);
                else
                    program_.LogActivity(QStringLiteral("Message #%1 was skipped due to size.").arg(m));
                isNew = true;
            }
            if (program_.GetFilters().CheckForSpam(mail.Subject(), mail.MailTo(), mail.From(), mail.Body())) {
                inbox.Remove(key);
                program_.LogActivity(QStringLiteral("Message #%1 was deleted (SPAM)").arg(m));
                isNew = false;
            }
            // Spam takes back only its own share of the news.
            if (isNew)
                ++newCount;
            program_.Display().SetNewMailFlag(newCount > 0);
        }
        if (cancel) {
            failure = true;
            return;
        }
    }
}

std::int32_t CheckSession::listedSize(int m) {
    // Read once per account: "LIST" answers every message's size.
    if (!listRead_) {
        listRead_ = true;
        PopControl& pop = *program_.Platform().pop;
        lastTcpText_ = QStringLiteral("LIST\r\n");
        if (program_.Platform().tcp->SendText(lastTcpText_) == 0) {
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

QString CheckSession::readHeader(int m) {
    PopControl& pop = *program_.Platform().pop;
    if (program_.InternetError()) {
        pop.Close();
        return {};
    }
    lastTcpText_ = QStringLiteral("TOP %1 0\r\n").arg(m);
    program_.Platform().tcp->SendText(lastTcpText_);
    pop.Receive();
    pop.Receive();
    const QString header = lastReply_;
    const QString id = headers::MessageId(header);
    if (id.isEmpty())
        return {};
    Inbox& inbox = program_.GetInbox();
    auto mail = std::make_unique<CMail>();
    mail->FillFromHeader(header);
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
    PopControl& pop = *program_.Platform().pop;
    program_.Status().SetStatusLine(QStringLiteral("Receiving Message #%1").arg(m));
    pop.SetMessageNumber(m);
    const int result = pop.Retrieve();
    program_.Platform().pump.yield();
    if (result != 0 || program_.InternetError()) {
        program_.LogActivity(QStringLiteral("Failed to receive message #%1").arg(m));
        return;
    }
    CMail& mail = program_.GetInbox().Item(key);
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
    QString text = mail.DateSent().trimmed() + QStringLiteral("|From:") + mail.From() +
                   QStringLiteral("|Subject:") + mail.Subject();
    if (withBody) {
        QString body = BodyAfterHeaders(mail.Body());
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
    const LiveSettings& s = program_.Settings();
    Inbox& inbox = program_.GetInbox();
    MessageQueue& queue = program_.Queue();
    const CPager& pager = program_.Pagers().Item(1);
    const std::int16_t type = pager.PagerType();
    auto queueTo = [&](const QString& address, const QString& text, bool sent = false) {
        queue.Add(pager.ServiceName(), address, text, sent, type);
    };
    auto hangUpThenSend = [&] {
        hangUp();
        pause(2);
        program_.SendQueue();
    };

    if (s.pageHeaders && s.downloadFlag) {
        bool numericDue = false;
        for (CMail& mail : inbox) {
            if (!mail.NewMessage() || mail.Paged())
                continue;
            const bool withBody = s.pageBody || (s.pageBodyHighestPriority && mail.Priority() == 1);
            const QString text = PageText(mail, withBody);
            if (type == 0)
                queueTo(pager.ID(), text);
            else if (type == 1)
                queueTo(pager.EmailAddress(), text);
            else
                numericDue = true;
            mail.SetPaged(true);
        }
        if (type == 0) {
            hangUpThenSend();
        } else if (type == 1) {
            program_.SendQueue();
            hangUp();
        } else {
            hangUp();
            if (numericDue) {
                queueTo(pager.DigitalNumber(), s.numericPagePrefix + QString::number(inbox.Count()) + QLatin1Char('#'), true);
                pause(2);
                program_.SendQueue();
            }
        }
        return;
    }
    if (!program_.Display().NewMailFlag()) {
        hangUp();
        return;
    }
    long long n = 0;
    for (const CPOPAccount& account : program_.POPAccounts())
        n += account.Messages();
    const QString notice = QStringLiteral("<EMAIL %1>").arg(n);
    if (type == 0) {
        queueTo(pager.ID(), notice);
        hangUpThenSend();
    } else if (type == 1) {
        queueTo(pager.EmailAddress(), notice);
        program_.SendQueue();
        hangUp();
    } else {
        queueTo(pager.DigitalNumber(), s.numericPagePrefix + QString::number(n) + QLatin1Char('#'));
        hangUpThenSend();
    }
}

} // namespace tessaly
