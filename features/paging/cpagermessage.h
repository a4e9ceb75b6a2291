#pragma once
// CPagerMessage: one page waiting to be sent. MessageQueue: the queue every
// page goes through; SendQueue hands each page to its service and empties it.

#include "features/paging/pagertype.h"
#include "ground/keyedlist.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace tessaly {

class CPagerService;
class SerialControl;
struct PagingContext;

class CPagerMessage {
public:
    QString Service() const { return service_; }
    void SetService(const QString& v) { service_ = v; }
    // Pager identifier (type 0), mail address (type 1) or telephone number (type 2).
    QString PagerID() const { return pagerId_; }
    void SetPagerID(const QString& v) { pagerId_ = v; }
    QString Message() const { return message_; }
    void SetMessage(const QString& v) { message_ = v; }
    bool Sent() const { return sent_; }
    void SetSent(bool v) { sent_ = v; }
    // How the page goes out; kept as given.
    tessaly::PagerType PagerType() const { return pagerType_; }
    void SetPagerType(tessaly::PagerType v) { pagerType_ = v; }
    QString FromAddress() const { return from_; }
    void SetFromAddress(const QString& v) { from_ = v; }
    QString Subject() const { return subject_; }
    void SetSubject(const QString& v) { subject_ = v; }
    // Set by the sender when the service refused the page for good (the
    // recipient is unknown, the login is refused): trying it again cannot
    // succeed.
    bool Refused() const { return refused_; }
    void SetRefused(bool v) { refused_ = v; }
    // The carrier's reason for the last outcome, when it gave one.
    QString Reason() const { return reason_; }
    void SetReason(const QString& v) { reason_ = v; }
    // The identifier a delivery receipt for the page will name, when one
    // was asked for; empty otherwise.
    QString Receipt() const { return receipt_; }
    void SetReceipt(const QString& v) { receipt_ = v; }

private:
    QString service_, pagerId_, message_, from_, subject_, reason_, receipt_;
    bool sent_ = false;
    bool refused_ = false;
    tessaly::PagerType pagerType_ = PagerAlphaDialUp;
};

class MessageQueue {
public:
    // Sends one e-mail page: service, recipient, text, sender, subject, message number.
    using SmtpSender = std::function<void(CPagerService& service, const QString& recipient, const QString& message,
                                          const QString& from, const QString& subject, int number)>;
    // Looks up a service by name; a missing one is the keyed list's error.
    using ServiceLookup = std::function<CPagerService&(const QString& name)>;
    // Told once for every page of the walk, in order: its position and
    // whether the service delivered it. A page that was never tried (after a
    // failed logon, an unknown pager type, no mail-sending control) is not
    // delivered.
    using PageOutcome = std::function<void(int position, bool delivered)>;
    // Asked before each page goes out; false stops the walk there, and that
    // page and the rest count as not delivered.
    using PageStart = std::function<bool(int position)>;
    // Sends one page over a carrier's network service (WCTP, SNPP); true
    // when the carrier took it. It marks the page Refused when the carrier
    // refused it for good, and gives it a Receipt to wait for.
    using CarrierSender = std::function<bool(CPagerService& service, CPagerMessage& page, int number)>;
    // The line to a service's paging terminal on a TCP port, set up for
    // the service's address; none (after an activity line) when the
    // address is no use.
    using TerminalLink = std::function<SerialControl*(CPagerService& service)>;

    // The ways out a walk may use. A page whose way is not given is not
    // delivered.
    struct Channels {
        SerialControl& port; // the modem
        SmtpSender smtp = {};
        CarrierSender carrier = {};
        TerminalLink terminal = {};
    };

    CPagerMessage& Add(const QString& service, const QString& pagerId, const QString& message, bool sent,
                       PagerType pagerType, const std::optional<QString>& fromAddress = std::nullopt,
                       const std::optional<QString>& subject = std::nullopt, const QString& key = {});
    CPagerMessage& Item(int position) const { return list_.Item(position); }
    CPagerMessage& Item(const QString& key) const { return list_.Item(key); }
    int Count() const { return list_.Count(); }
    void Remove(int position) { list_.Remove(position); }
    void Remove(const QString& key) { list_.Remove(key); }
    auto begin() const { return list_.begin(); }
    auto end() const { return list_.end(); }

    void ClearQueue() { list_.Clear(); }
    // Kept for callers of the original interface; it shows nothing.
    void ShowQueue() {}

    // Sends every page in order and empties the queue. Consecutive dial-up
    // pages of one service share one call, and so do consecutive pages of
    // one service's terminal on a TCP port. A failed logon ends the walk.
    // The queue is empty and the serial port closed afterwards, whatever
    // happened; an error (a page naming no known service, a failing port)
    // reaches the caller after that. `outcome`, when given, hears of every
    // page (also those left unsent by such an error) before the queue empties.
    void SendQueue(PagingContext& ctx, const ServiceLookup& services, SerialControl& port, const SmtpSender& smtp,
                   const PageOutcome& outcome = {}, const PageStart& starting = {}) {
        SendQueue(ctx, services, Channels{.port = port, .smtp = smtp}, outcome, starting);
    }
    void SendQueue(PagingContext& ctx, const ServiceLookup& services, const Channels& channels,
                   const PageOutcome& outcome = {}, const PageStart& starting = {});

private:
    KeyedList<CPagerMessage> list_;
};

} // namespace tessaly
