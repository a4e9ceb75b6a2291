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

void MessageQueue::SendQueue(PagingContext& ctx, const ServiceLookup& services, const Channels& channels,
                             const PageOutcome& outcome, const PageStart& starting) {
    const int count = list_.Count();
    SerialControl& port = channels.port;
    QString openService;
    CPagerService* connected = nullptr;    // the service whose call is open
    SerialControl* line = nullptr;         // the line that call is on
    SerialControl* terminalLine = nullptr; // the last TCP line opened
    bool loggedOn = false;
    bool stopped = false;
    std::exception_ptr failure;
    int told = 0; // pages whose outcome was reported
    auto report = [&](int position, bool delivered) {
        told = position;
        if (outcome)
            outcome(position, delivered);
    };
    auto endCall = [&] {
        if (connected)
            connected->Logoff(ctx, *line);
        connected = nullptr;
    };
    // A page to a paging terminal: the call is shared with the pages before
    // it while they went to the same service on the same line.
    auto sendOnCall = [&](int i, CPagerService& service, SerialControl& on, const CPagerMessage& record) {
        if (record.Service() != openService || !connected || line != &on) {
            endCall();
            openService = record.Service();
            line = &on;
            loggedOn = service.Logon(ctx, on);
        }
        if (!loggedOn) {
            stopped = true; // a failed logon ends the walk
            return;
        }
        connected = &service;
        service.SendTo(ctx, on, record.PagerID(), record.Message(), i);
        report(i, service.ResultState() == pagestate::OK);
    };

    try {
        for (int i = 1; i <= count && !stopped; ++i) {
            if (starting && !starting(i)) {
                stopped = true;
                break;
            }
            CPagerMessage& record = list_.Item(i);
            const QString serviceName = record.Service();
            // A page of a type not listed here is skipped (and counts as not delivered below).
            switch (record.PagerType()) {
            case PagerAlphaDialUp: sendOnCall(i, services(serviceName), port, record); break;
            case PagerAlphaTCP: {
                CPagerService& service = services(serviceName);
                // Another service's call ends before the line is given its address.
                if (serviceName != openService)
                    endCall();
                SerialControl* to = channels.terminal ? channels.terminal(service) : nullptr;
                if (to) {
                    terminalLine = to;
                    sendOnCall(i, service, *to, record);
                } else {
                    endCall();
                }
                break;
            }
            case PagerAlphaSMTP: {
                CPagerService& service = services(serviceName);
                endCall();
                if (channels.smtp) {
                    channels.smtp(service, record.PagerID(), record.Message(), record.FromAddress(), record.Subject(),
                                  i);
                    report(i, service.ResultState() == pagestate::OK);
                }
                break;
            }
            case PagerNumeric: {
                CPagerService& service = services(serviceName);
                endCall();
                service.SendDigitalPage(ctx, port, record.PagerID(), record.Message());
                report(i, service.ResultState() == pagestate::OK);
                break;
            }
            case PagerWCTP:
            case PagerSNPP: {
                CPagerService& service = services(serviceName);
                endCall();
                if (channels.carrier)
                    report(i, channels.carrier(service, record, i));
                break;
            }
            }
            // A page of an unknown type is not delivered.
            if (told < i && !stopped)
                report(i, false);
        }
        endCall();
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
    if (terminalLine && terminalLine->PortOpen())
        ctx.comm.HangUp(*terminalLine);
    ctx.status.Close();
    ClearQueue();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace tessaly
