#pragma once
// Pages over a carrier's network service: WCTP (XML over HTTP or HTTPS) and
// SNPP. A page is cut into the service's page blocks as for the other
// types; each block goes as one submission. A temporary failure (no
// connection, an HTTP error, a carrier's "try later") is tried again as the
// retry settings say, and when it still fails the page is left for the next
// check; a permanent refusal (recipient unknown, login refused) marks the
// page Refused, which is not tried again.
//
// With receipts asked for, a WCTP page gets a message ID the carrier names
// in its later status notices; PollReceipts collects them.

#include "features/paging/wctp.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>

namespace tessaly {

class CPagerMessage;
class CPagerService;
class EventPump;
class LinkFactory;
struct PagingContext;

class CarrierPaging {
public:
    // A poster for the service's WCTP endpoint.
    using PosterFactory = std::function<std::unique_ptr<wctp::Poster>(const CPagerService& service)>;
    // Gives each receipt its message ID; the default makes one of the time
    // and a counter.
    using IdMaker = std::function<QString()>;

    CarrierPaging(EventPump& pump, LinkFactory* links, PosterFactory posters);

    // An extra file of trusted certificates (PEM) besides the system's.
    void SetCaFile(const QString& path) { caFile_ = path; }
    void SetIdMaker(IdMaker make) { makeId_ = std::move(make); }
    // Lines for the terminal window (SNPP commands and replies, WCTP
    // requests and answers), secrets masked.
    void SetTerminal(std::function<void(const QString&)> line) { terminal_ = std::move(line); }

    // Sends one page by its type; true when the carrier took every block.
    bool Send(PagingContext& ctx, CPagerService& service, CPagerMessage& page, int number);

    // Asks the service's carrier for the status of the pages whose receipt
    // is still awaited (message IDs). Returns the delivery each of them
    // reached by now; pages the carrier said nothing of are left out. A
    // failed poll logs one line and returns nothing.
    QHash<QString, wctp::Delivery> PollReceipts(PagingContext& ctx, CPagerService& service, const QStringList& awaited);

private:
    bool sendWctp(PagingContext& ctx, CPagerService& service, CPagerMessage& page, const QString& n);
    bool sendSnpp(PagingContext& ctx, CPagerService& service, CPagerMessage& page, const QString& n);
    // Runs `attempt` (true: it failed for now) as often as the retry
    // settings allow, the retry time between; false when cancelled before
    // the first attempt.
    bool withRetries(PagingContext& ctx, const QString& status, const std::function<bool()>& attempt);

    EventPump& pump_;
    LinkFactory* links_;
    PosterFactory posters_;
    QString caFile_;
    IdMaker makeId_;
    std::function<void(const QString&)> terminal_;
    int idCounter_ = 0;
};

} // namespace tessaly
