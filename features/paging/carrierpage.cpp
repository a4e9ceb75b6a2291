#include "features/paging/carrierpage.h"

#include "features/paging/comm.h"
#include "features/paging/cpagermessage.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/pagingcontext.h"
#include "platform/eventpump.h"
#include "platform/snppclient.h"
#include "state/commstatus.h"
#include "state/livesettings.h"

#include <QRandomGenerator>
#include <QUrl>

namespace tessaly {

namespace {

// The page blocks as text: line breaks kept as LF (the terminal's own
// CR rule of SplitMessage does not apply to these carriers).
void splitForCarrier(CPagerService& service, const QString& message, int maxBlocks) {
    QString text = message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    service.SplitMessage(text, maxBlocks);
}

QString partOf(int block, int count) {
    return count > 1 ? QStringLiteral(" (part %1 of %2)").arg(block).arg(count) : QString();
}

// "500 Internal Server Error" or the carrier's code and text.
QString carrierSays(const wctp::SendResult& r) {
    QString said = r.text.simplified().left(200);
    if (r.code != 0)
        said = QStringLiteral("%1 %2").arg(r.code).arg(said);
    return said.isEmpty() ? QStringLiteral("no reason given") : said;
}

} // namespace

CarrierPaging::CarrierPaging(EventPump& pump, LinkFactory* links, PosterFactory posters)
    : pump_(pump), links_(links), posters_(std::move(posters)) {}

bool CarrierPaging::withRetries(PagingContext& ctx, const QString& status, const std::function<bool()>& attempt) {
    bool tried = false;
    for (int i = 0; i <= ctx.settings.retries && !ctx.comm.CancelFlag(); ++i) {
        if (i > 0) {
            ctx.comm.ShowCommStatus(QStringLiteral("Retrying"));
            ctx.comm.Pause(ctx.settings.retryWait);
            if (ctx.comm.CancelFlag())
                break;
        }
        tried = true;
        ctx.comm.ShowCommStatus(status);
        if (!attempt())
            break;
    }
    return tried;
}

bool CarrierPaging::Send(PagingContext& ctx, CPagerService& service, CPagerMessage& page, int number) {
    page.SetRefused(false);
    page.SetReason({});
    page.SetReceipt({});
    if (ctx.settings.statusWindowFlag)
        ctx.status.Show();
    if (ctx.settings.connectionType != ConnDirect && ctx.connectInternet) {
        // The dial-up routine reports its own outcome.
        if (!ctx.connectInternet() || ctx.comm.CancelFlag())
            return false;
    }
    const QString n = QString::number(number);
    switch (page.PagerType()) {
    case PagerWCTP: return sendWctp(ctx, service, page, n);
    case PagerSNPP: return sendSnpp(ctx, service, page, n);
    case PagerAlphaDialUp:
    case PagerAlphaSMTP:
    case PagerNumeric:
    case PagerAlphaTCP: break;
    }
    return false;
}

bool CarrierPaging::sendWctp(PagingContext& ctx, CPagerService& service, CPagerMessage& page, const QString& n) {
    const QString head = QStringLiteral("WCTP Message #") + n;
    const QUrl endpoint(service.Address().trimmed(), QUrl::StrictMode);
    const QString scheme = endpoint.scheme().toLower();
    if (!endpoint.isValid() || endpoint.host().isEmpty() ||
        (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        ctx.logActivity(head + QStringLiteral(" not sent: the paging service \"%1\" has no http or https "
                                              "address of a WCTP gateway")
                                   .arg(service.Name()));
        return false;
    }
    std::unique_ptr<wctp::Poster> poster = posters_ ? posters_(service) : nullptr;
    if (!poster) {
        ctx.logActivity(head + QStringLiteral(" not sent: no network connection is available"));
        return false;
    }
    splitForCarrier(service, page.Message(), ctx.settings.maxPagesPerMessage);
    const int count = service.BlockCount();
    QStringList receipts;
    for (int b = 1; b <= count; ++b) {
        const QString part = partOf(b, count);
        wctp::SubmitValues v;
        v.senderId = service.SenderID();
        v.securityCode = service.SecurityCode();
        v.recipientId = page.PagerID();
        v.text = service.Block(b);
        v.submitted = pump_.now();
        if (service.Receipts()) {
            v.notifyWhenDelivered = true;
            // Unique across runs and programs sharing one carrier account.
            v.messageId = makeId_ ? makeId_()
                                  : QStringLiteral("tessly-%1-%2-%3")
                                        .arg(pump_.now().toUTC().toString(QStringLiteral("yyyyMMddHHmmss")))
                                        .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'))
                                        .arg(++idCounter_);
        }
        const QByteArray body = wctp::SubmitRequest(v);
        wctp::SendResult r;
        const bool tried = withRetries(ctx, QStringLiteral("Sending Message #") + n + part, [&] {
            if (terminal_)
                terminal_(QStringLiteral("WCTP: submit to %1 for %2%3\r").arg(endpoint.host(), page.PagerID(), part));
            r = poster->SendAndWait(pump_, body, &ctx.comm.CancelFlag());
            if (terminal_)
                terminal_(
                    QStringLiteral("WCTP: %1%2\r")
                        .arg(r.httpStatus ? QStringLiteral("HTTP %1, ").arg(r.httpStatus) : QString(), carrierSays(r)));
            return r.kind == wctp::SendResult::TemporaryFailure;
        });
        if (!tried || ctx.comm.CancelFlag()) {
            page.SetReason(QStringLiteral("cancelled"));
            return false;
        }
        if (r.kind == wctp::SendResult::PermanentFailure) {
            page.SetRefused(true);
            page.SetReason(carrierSays(r));
            ctx.comm.ShowCommStatus(QStringLiteral("Unable to send message"));
            ctx.logActivity(head + part + QStringLiteral(" refused by the carrier: ") + carrierSays(r) +
                            QStringLiteral("; not tried again"));
            return false;
        }
        if (r.kind == wctp::SendResult::TemporaryFailure) {
            page.SetReason(carrierSays(r));
            ctx.comm.ShowCommStatus(QStringLiteral("Unable to send message"));
            ctx.logActivity(head + part + QStringLiteral(" not delivered: ") + carrierSays(r));
            return false;
        }
        if (!v.messageId.isEmpty())
            receipts << v.messageId;
        ctx.logActivity(head + part + QStringLiteral(" delivered to the network") +
                        (r.trackingId.isEmpty() ? QString() : QStringLiteral(" (tracking ID %1)").arg(r.trackingId)));
    }
    ctx.comm.ShowCommStatus(QStringLiteral("Message #") + n + QStringLiteral(" sent successfully"));
    page.SetReceipt(receipts.join(QLatin1Char(' ')));
    return count > 0;
}

bool CarrierPaging::sendSnpp(PagingContext& ctx, CPagerService& service, CPagerMessage& page, const QString& n) {
    const QString head = QStringLiteral("SNPP Message #") + n;
    QString host;
    int port = 0;
    if (!service.HostAndPort(host, port, SnppClient::kSnppPort)) {
        ctx.logActivity(head + QStringLiteral(" not sent: the paging service \"%1\" has no SNPP server "
                                              "address (host or host:port)")
                                   .arg(service.Name()));
        return false;
    }
    if (!links_) {
        ctx.logActivity(head + QStringLiteral(" not sent: no network connection is available"));
        return false;
    }
    SnppClient client(pump_, *links_);
    client.SetHost(host);
    client.SetPort(port);
    client.SetTls(service.UseTls());
    client.SetCaFile(caFile_);
    client.SetMessLimit(service.MaxPageChar());
    client.SetCancelFlag(&ctx.comm.CancelFlag());
    if (terminal_) {
        QObject::connect(&client, &SnppClient::commandSent, &client,
                         [this](const QString& line) { terminal_(line.trimmed() + QLatin1Char('\r')); });
        QObject::connect(&client, &SnppClient::dataReceived, &client,
                         [this](const QString& line) { terminal_(line.trimmed() + QLatin1Char('\r')); });
    }
    splitForCarrier(service, page.Message(), ctx.settings.maxPagesPerMessage);
    const int count = service.BlockCount();
    for (int b = 1; b <= count; ++b) {
        const QString part = partOf(b, count);
        SnppOutcome r;
        const bool tried = withRetries(ctx, QStringLiteral("Sending Message #") + n + part, [&] {
            r = client.SendPage(page.PagerID(), service.SecurityCode(), service.Block(b));
            return r.kind == SnppOutcome::Kind::Temporary;
        });
        if (!tried || ctx.comm.CancelFlag()) {
            page.SetReason(QStringLiteral("cancelled"));
            return false;
        }
        if (r.kind == SnppOutcome::Kind::Permanent && r.code == 0) {
            // No reply of the server decided it: the settings or the
            // certificate cannot work as they stand, and once they are
            // mended the page can go.
            page.SetReason(r.reason);
            ctx.comm.ShowCommStatus(QStringLiteral("Unable to send message"));
            ctx.logActivity(head + part + QStringLiteral(" not sent: ") + r.reason);
            return false;
        }
        if (r.kind == SnppOutcome::Kind::Permanent) {
            page.SetRefused(true);
            page.SetReason(r.reason);
            ctx.comm.ShowCommStatus(QStringLiteral("Unable to send message"));
            ctx.logActivity(head + part + QStringLiteral(" refused: ") + r.reason +
                            QStringLiteral("; not tried again"));
            return false;
        }
        if (r.kind == SnppOutcome::Kind::Temporary) {
            page.SetReason(r.reason);
            ctx.comm.ShowCommStatus(QStringLiteral("Unable to send message"));
            ctx.logActivity(head + part + QStringLiteral(" not delivered: ") + r.reason);
            return false;
        }
        ctx.logActivity(head + part + QStringLiteral(" sent successfully"));
    }
    ctx.comm.ShowCommStatus(QStringLiteral("Message #") + n + QStringLiteral(" sent successfully"));
    return count > 0;
}

QHash<QString, wctp::Delivery> CarrierPaging::PollReceipts(PagingContext& ctx, CPagerService& service,
                                                           const QStringList& awaited) {
    QHash<QString, wctp::Delivery> found;
    if (awaited.isEmpty())
        return found;
    std::unique_ptr<wctp::Poster> poster = posters_ ? posters_(service) : nullptr;
    if (!poster)
        return found;
    wctp::PollValues v;
    v.pollerId = service.SenderID();
    v.securityCode = service.SecurityCode();
    const wctp::SendResult r = poster->SendAndWait(pump_, wctp::PollForMessages(v), &ctx.comm.CancelFlag());
    if (r.httpStatus != 200 || r.answer.isEmpty()) {
        ctx.logActivity(
            QStringLiteral("WCTP: receipts from \"%1\" not collected: %2").arg(service.Name(), carrierSays(r)));
        return found;
    }
    const QList<wctp::StatusNotice> notices = wctp::ReadPollResponse(r.answer);
    for (const QString& id : awaited) {
        const wctp::Delivery d = wctp::StatusOf(notices, id);
        if (d != wctp::Delivery::Unknown)
            found.insert(id, d);
    }
    return found;
}

} // namespace tessaly
