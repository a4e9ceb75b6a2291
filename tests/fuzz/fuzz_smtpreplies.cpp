// An SMTP server's replies to one message (see replayscript.h for the input
// form). The client reports success only after the whole message went out,
// otherwise a reply code or a socket error, and never waits past its time-out.

#include "platform/eventpump.h"
#include "platform/smtpcontrol.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/virtualeventpump.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/fuzz/replayscript.h"

using namespace tessaly;

TESSALY_FUZZ_APP_ONLY()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    const QList<QByteArray> replies =
        fuzz::SplitReplies(fuzz::Bytes(data, size));

    VirtualEventPump pump(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
    ScriptedNet net{pump};
    net.setLatency(0.01);
    net.listen(QStringLiteral("smtp.example.org"), 25, [&] { return std::make_unique<fuzz::ReplayScript>(replies); });
    SmtpClient smtp(pump, net);
    smtp.SetHostName(QStringLiteral("smtp.example.org"));
    smtp.SetDomain(QStringLiteral("example.net"));
    smtp.SetSender(QStringLiteral("me@example.net"));
    smtp.SetRecipient(QStringLiteral("pager@example.org"));
    smtp.SetSubject(QStringLiteral("page"));
    smtp.SetBody(QStringLiteral("line one\r\n.line two"));
    smtp.SetTimeout(60);

    const QDateTime started = pump.now();
    const int result = smtp.Send();
    FUZZ_CHECK(result >= 0);
    if (result == 0) {
        FUZZ_CHECK(!net.connections().isEmpty());
        FUZZ_CHECK(net.connections().first()->received.contains(smtp.MessageData()));
    }
    // Every step waits at most its time-out; the exchange has a handful of steps.
    FUZZ_CHECK(started.secsTo(pump.now()) <= 60 * 12);
    return 0;
}
