// A paging terminal's answers during a call (see replaymodem.h for the input
// form): the modem's result lines, the "ID=" prompt, the go-ahead after the
// logon, the answer to every block and to the logoff. Whatever it answers,
// the call ends with a known state within its time-outs, every block goes
// out as one frame of at most 256 bytes of printable text with its right
// checksum, a page counts as sent only when every block was acknowledged, and
// the port is closed at the end.

#include "features/paging/cpagerservice.h"
#include "features/paging/pagestate.h"
#include "tests/fakes/pagingsetup.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/fuzz/replaymodem.h"
#include "tests/fuzz/replayscript.h"

using namespace tessaly;

namespace {

// The frames in what went to the modem: STX .. ETX, three checksum
// characters and a CR each.
QList<QByteArray> Frames(const QByteArray& written) {
    QList<QByteArray> frames;
    qsizetype from = 0;
    while ((from = written.indexOf('\x02', from)) >= 0) {
        const qsizetype etx = written.indexOf('\x03', from);
        FUZZ_CHECK(etx > from && etx + 4 < written.size());
        frames << written.mid(from, etx + 5 - from);
        from = etx + 5;
    }
    return frames;
}

void CheckFrame(const QByteArray& frame) {
    FUZZ_CHECK(frame.size() <= 256);
    FUZZ_CHECK(frame.endsWith('\r'));
    const QByteArray stxToEtx = frame.left(frame.size() - 4);
    FUZZ_CHECK(frame.mid(frame.size() - 4, 3) == CPagerService::Checksum(stxToEtx));
    for (qsizetype i = 1; i + 1 < stxToEtx.size(); ++i) {
        const char c = stxToEtx[i];
        FUZZ_CHECK(c == '\r' || (c >= 0x20 && c < 0x7f));
    }
}

constexpr std::int16_t kLogonStates[] = {
    pagestate::OK,       pagestate::InitFailed, pagestate::NoConnection, pagestate::NoDialTone,
    pagestate::Busy,     pagestate::NoIdPrompt, pagestate::LogonRefused, pagestate::NoCarrier,
    pagestate::NoAnswer, pagestate::DialError,  pagestate::LineNoise};

} // namespace

TESSALY_FUZZ_APP_ONLY()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    fuzz::SerialRig r(fuzz::SplitReplies(fuzz::Bytes(data, size)));
    CPagerService service;
    setUpTapService(service, QStringLiteral("5551234"), 2);
    service.SetTerminalPassword(QStringLiteral("pw"));
    service.SetMaxPageChar(80);

    const bool on = service.Logon(r.ctx, r.port);
    FUZZ_CHECK(std::find(std::begin(kLogonStates), std::end(kLogonStates), service.ResultState()) != std::end(kLogonStates));
    FUZZ_CHECK(on == (service.ResultState() == pagestate::OK));
    FUZZ_CHECK(on == r.port.PortOpen());
    // One attempt: the modem's waits, the dial's minute, six prompts for the
    // ID, the go-ahead and the hang-up, each bounded by its silence time-out.
    FUZZ_CHECK(r.pump.elapsedSeconds() <= 200);

    if (on) {
        const double t0 = r.pump.elapsedSeconds();
        const QString text = QStringLiteral("From: Zo\u00eb <zoe@example.org>|Subject: caf\u00e9 \u2014 ") + QString(150, QLatin1Char('x'));
        const QList<QByteArray> before = Frames(r.port.written);
        service.SendTo(r.ctx, r.port, QStringLiteral("1234"), text, 1);
        const QList<QByteArray> frames = Frames(r.port.written).mid(before.size());
        const std::int16_t state = service.ResultState();
        FUZZ_CHECK(state == pagestate::OK || state == pagestate::NotAcknowledged);
        FUZZ_CHECK(!frames.isEmpty() && frames.size() <= service.BlockCount());
        for (const QByteArray& frame : frames)
            CheckFrame(frame);
        // Sent means every block went out and was acknowledged.
        qsizetype acknowledged = 0;
        for (const fuzz::ReplayModem::Exchange& e : r.port.exchanges)
            if (e.command.startsWith('\x02'))
                acknowledged += e.answer.contains('\x06') ? 1 : 0;
        if (state == pagestate::OK) {
            FUZZ_CHECK(frames.size() == service.BlockCount());
            FUZZ_CHECK(acknowledged == frames.size());
        } else {
            FUZZ_CHECK(r.log.last().contains(QLatin1String("was not acknowledged")));
        }
        // A second and 10 s of silence per block at most.
        FUZZ_CHECK(r.pump.elapsedSeconds() - t0 <= 11.5 * frames.size());
    }
    service.Logoff(r.ctx, r.port);
    FUZZ_CHECK(!r.port.PortOpen());
    return 0;
}
