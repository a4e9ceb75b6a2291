// An SNPP server's bytes, read two ways. As a stream of replies: every reply
// taken removes bytes, holds a level 2 code (or is unreadable with code 0),
// and no line or reply goes past the reader's limits. As the server's side
// of one page (see replayscript.h for the input form): the client ends in
// one of its outcomes, reports delivery only after SEND was answered with
// 2xx, and never waits past its time-outs.

#include "platform/snppclient.h"
#include "platform/snppreplies.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/virtualeventpump.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/fuzz/replayscript.h"

using namespace tessaly;

TESSALY_FUZZ_APP_ONLY()

namespace {

void readStream(QByteArray buffer) {
    using snpp::ReplyClass;
    while (!buffer.isEmpty()) {
        const qsizetype before = buffer.size();
        const std::optional<snpp::Reply> r = snpp::TakeReply(buffer);
        if (!r) {
            FUZZ_CHECK(buffer.size() == before);
            FUZZ_CHECK(before <= snpp::kMaxLine * (snpp::kMaxLines + 1));
            return;
        }
        FUZZ_CHECK(buffer.size() < before);
        FUZZ_CHECK(r->text.size() <= snpp::kMaxLine);
        FUZZ_CHECK(r->help.size() < snpp::kMaxLines);
        FUZZ_CHECK(r->kind == snpp::Classify(r->code));
        if (r->code == 0)
            FUZZ_CHECK(r->kind == ReplyClass::Unreadable && r->help.isEmpty());
        else
            FUZZ_CHECK(r->code >= 200 && r->code <= 599);
        for (const char c : r->text)
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    const QByteArray bytes = fuzz::Bytes(data, size);
    readStream(bytes);

    const QList<QByteArray> replies = fuzz::SplitReplies(bytes);
    VirtualEventPump pump(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
    ScriptedNet net{pump};
    net.setLatency(0.01);
    net.listen(QStringLiteral("snpp.example.org"), 444, [&] { return std::make_unique<fuzz::ReplayScript>(replies); });
    SnppClient snpp(pump, net);
    snpp.SetHost(QStringLiteral("snpp.example.org"));
    snpp.SetTimeout(60);
    // Inputs that hold a DATA answer send two lines with DATA, the others one with MESS.
    const bool viaData = bytes.contains("354");
    const QDateTime started = pump.now();
    const SnppOutcome out = snpp.SendPage(QStringLiteral("5551234"), QStringLiteral("pin"),
                                        viaData ? QStringLiteral("line one\n.two") : QStringLiteral("line one"));
    if (out.Delivered()) {
        FUZZ_CHECK(!net.connections().isEmpty());
        FUZZ_CHECK(net.connections().first()->received.contains("\r\nSEND\r\n"));
        FUZZ_CHECK(out.reason.isEmpty());
    } else {
        FUZZ_CHECK(!out.reason.isEmpty());
        FUZZ_CHECK((out.code == 0) || (out.code >= 200 && out.code <= 599));
    }
    // Each of the six replies waits at most three time-outs.
    FUZZ_CHECK(started.secsTo(pump.now()) <= 60 * 3 * 7);
    return 0;
}
