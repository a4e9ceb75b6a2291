#pragma once
// The mail check: connect, log in to every enabled account, read headers,
// download small bodies, drop what the filters match, turn new mail into
// pages, send them and hang up.

#include "features/mail/mailcontext.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

namespace tessaly {

class CPOPAccount;

class CheckSession : public QObject {
    Q_OBJECT
public:
    static constexpr double kLoginWait = 60; // seconds

    explicit CheckSession(MailContext ctx);

    // One check. `download`: read and download messages (else only count
    // them); `page`: compose and send pages.
    void Check(bool download, bool page);

    // Shared with the controls' event handlers.
    bool LoggedInFlag() const { return loggedIn_; }
    QString LastReply() const { return lastReply_; }
    std::int16_t PreviousTotal() const { return previousTotal_; }
    // True while a check runs.
    bool Running() const { return running_; }

    // The page text of one message: date, sender, subject and, when asked,
    // the body after its header block with CRs removed.
    static QString PageText(const class CMail& mail, bool withBody);
    // The part of a retrieved message after its header block.
    static QString BodyAfterHeaders(const QString& message);

private:
    void readAccounts(bool download);
    bool login(CPOPAccount& account);
    void readMessages(int count, bool& failure, int& newCount);
    QString readHeader(int m);
    void download(int m, const QString& key);
    std::int32_t listedSize(int m);
    void pageNewMail(bool page);
    void hangUp();
    void pause(double seconds);
    bool guarded(const char* what, const std::function<void()>& step);
    void terminal(const QString& line);
    // A control's socket error: log line, terminal line, and the check's error flag.
    void socketError(const QString& logName, const QString& terminalName, int number);

    MailContext ctx_;
    bool running_ = false;
    bool loggedIn_ = false;
    int messageCount_ = 0;
    QString response_;
    bool newResponse_ = false;
    QString lastReply_;
    QString lastTcpText_;
    std::int16_t previousTotal_ = 0;
    QHash<int, std::int32_t> listSizes_; // message number -> size, per account
    bool listRead_ = false;
};

} // namespace tessaly
