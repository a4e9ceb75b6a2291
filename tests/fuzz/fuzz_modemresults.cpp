// A modem's result lines (see replaymodem.h for the input form): the answers
// to "AT", the initialisation string, a paging terminal's dial and a numeric
// pager's dial. The state each step returns follows from the answer the
// step got, and every wait ends within its time-out.

#include "features/paging/pagestate.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/fuzz/replaymodem.h"
#include "tests/fuzz/replayscript.h"

using namespace tessaly;

namespace {

// What a dial's answer must give: CONNECT (for a paging terminal), then the
// failure words in the order the modem routines look for them, then noise.
std::int16_t ExpectedDialState(const QByteArray& answer, bool connectEnds, std::int16_t silence) {
    if (connectEnds && answer.contains("CONNECT"))
        return pagestate::OK;
    static const struct {
        const char* word;
        std::int16_t state;
    } failures[] = {{"BUSY", pagestate::Busy},           {"NO DIAL", pagestate::NoDialTone},
                    {"NO CARRIER", pagestate::NoCarrier}, {"NO ANSWER", pagestate::NoAnswer},
                    {"ERROR", pagestate::DialError}};
    for (const auto& f : failures)
        if (answer.contains(f.word))
            return f.state;
    return answer.size() > 5000 ? pagestate::LineNoise : silence;
}

// The answer the last command starting with `prefix` got.
QByteArray AnswerTo(const fuzz::ReplayModem& port, const QByteArray& prefix) {
    for (qsizetype i = port.exchanges.size() - 1; i >= 0; --i)
        if (port.exchanges[i].command.startsWith(prefix))
            return port.exchanges[i].answer;
    return {};
}

} // namespace

TESSALY_FUZZ_APP_ONLY()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    fuzz::SerialRig r(fuzz::SplitReplies(fuzz::Bytes(data, size)));

    // A paging terminal's number.
    double t0 = r.pump.elapsedSeconds();
    const std::int16_t init = r.comm.InitModem(r.port, QStringLiteral("AT&F"));
    FUZZ_CHECK(r.port.exchanges.size() == 2);
    FUZZ_CHECK((init == pagestate::OK) == r.port.exchanges[1].answer.contains("OK"));
    FUZZ_CHECK(init == pagestate::OK || init == pagestate::InitFailed);
    // Two 1 s pauses and two waits of 10 s of silence.
    FUZZ_CHECK(r.pump.elapsedSeconds() - t0 <= 23);
    if (init == pagestate::OK) {
        t0 = r.pump.elapsedSeconds();
        const std::int16_t dial = r.comm.DialService(r.port, QStringLiteral("5551234"));
        FUZZ_CHECK(dial == ExpectedDialState(AnswerTo(r.port, "ATD"), true, pagestate::NoConnection));
        FUZZ_CHECK(r.pump.elapsedSeconds() - t0 <= 61);
    }
    r.comm.HangUp(r.port);
    FUZZ_CHECK(!r.port.PortOpen());

    // A numeric pager: silence is success.
    if (r.comm.InitModem(r.port, QStringLiteral("AT&F")) == pagestate::OK) {
        t0 = r.pump.elapsedSeconds();
        const std::int16_t dial = r.comm.DialNumeric(r.port, QStringLiteral("5559876,,,123#"), 10);
        FUZZ_CHECK(dial == ExpectedDialState(AnswerTo(r.port, "ATD"), false, pagestate::OK));
        FUZZ_CHECK(r.pump.elapsedSeconds() - t0 <= 16);
    }
    r.comm.HangUp(r.port);
    FUZZ_CHECK(!r.port.PortOpen());
    return 0;
}
