#include "features/paging/cpagermessage.h"

#include "state/commstatus.h"
#include "features/paging/comm.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/pagingcontext.h"
#include "features/paging/pagestate.h"
#include "platform/serialcontrol.h"

#include <exception>

namespace tessaly {

CPagerMessage& MessageQueue::Add(const QString& service, const QString& pagerId, const QString& message, bool sent,
                                 PagerType pagerType, const std::optional<QString>& fromAddress,
                                 const std::optional<QString>& subject, const QString& key) {
    auto m = std::make_unique<CPagerMessage>();
    m->SetService(service);
    m->SetPagerID(pagerId);
    m->SetMessage(message);
    m->SetSent(sent);
    m->SetPagerType(pagerType);
    if (fromAddress)
        m->SetFromAddress(*fromAddress);
    if (subject)
        m->SetSubject(*subject);
    return list_.Add(std::move(m), key);
}

void MessageQueue::SendQueue(PagingContext& ctx, const ServiceLookup& services, SerialControl& port,
                             const SmtpSender& smtp, const PageOutcome& outcome, const PageStart& starting) {
    const int count = list_.Count();
    QString openService;
    CPagerService* connected = nullptr; // the service whose call is open
    bool loggedOn = false;
    bool stopped = false;
    std::exception_ptr failure;
    int told = 0; // pages whose outcome was reported
    auto report = [&](int position, bool delivered) {
        told = position;
        if (outcome)
            outcome(position, delivered);
    };

    try {
        for (int i = 1; i <= count && !stopped; ++i) {
            if (starting && !starting(i)) {
                stopped = true;
                break;
            }
            const CPagerMessage& record = list_.Item(i);
            const QString serviceName = record.Service();
            const QString message = record.Message();
            const QString pagerId = record.PagerID();
            const QString from = record.FromAddress();
            const QString subject = record.Subject();
            // A page of a type not listed here is skipped (and counts as not delivered below).
            switch (record.PagerType()) {
            case PagerAlphaDialUp: {
                CPagerService& service = services(serviceName);
                if (serviceName != openService || !connected) {
                    if (connected) {
                        service.Logoff(ctx, port);
                        connected = nullptr;
                    }
                    openService = serviceName;
                    loggedOn = service.Logon(ctx, port);
                }
                if (!loggedOn) {
                    stopped = true; // a failed logon ends the walk
                } else {
                    connected = &service;
                    service.SendTo(ctx, port, pagerId, message, i);
                    report(i, service.ResultState() == pagestate::OK);
                }
                break;
            }
            case PagerAlphaSMTP: {
                CPagerService& service = services(serviceName);
                if (connected) {
                    service.Logoff(ctx, port);
                    connected = nullptr;
                }
                if (smtp) {
                    smtp(service, pagerId, message, from, subject, i);
                    report(i, service.ResultState() == pagestate::OK);
                }
                break;
            }
            case PagerNumeric: {
                CPagerService& service = services(serviceName);
                if (connected) {
                    service.Logoff(ctx, port);
                    connected = nullptr;
                }
                service.SendDigitalPage(ctx, port, pagerId, message);
                report(i, service.ResultState() == pagestate::OK);
                break;
            }
            }
            // A page of an unknown type is not delivered.
            if (told < i && !stopped)
                report(i, false);
        }
        if (connected)
            connected->Logoff(ctx, port);
    } catch (...) {
        failure = std::current_exception();
    }
    // Pages after a failed logon or an error were never tried.
    for (int i = told + 1; i <= count; ++i)
        report(i, false);
    // Nothing stays behind: the call is ended, the port closed, the queue emptied,
    // so a later run never sends a page twice.
    if (port.PortOpen())
        ctx.comm.HangUp(port);
    ctx.status.Close();
    ClearQueue();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace tessaly
