#pragma once
// A modem and whatever answers behind it, replayed from a fuzz input: the
// input holds the answers in order, separated by the two bytes 00 FF (see
// replayscript.h). Every command the program ends with a CR gets the next
// answer a moment later (a block, STX to its checksum, counts as one
// command); when they run out the line stays silent.

#include "tests/fakes/fakeserial.h"
#include "tests/fakes/pagingsetup.h"
#include "tests/fakes/virtualeventpump.h"

namespace tessaly::fuzz {

class ReplayModem : public FakeSerialControl {
public:
    struct Exchange {
        QByteArray command; // without its CR
        QByteArray answer;
    };

    ReplayModem(VirtualEventPump& pump, QList<QByteArray> answers)
        : FakeSerialControl(pump), answers_(std::move(answers)) {}

    void SetOutput(const QString& text) override {
        FakeSerialControl::SetOutput(text);
        for (char c : text.toLatin1()) {
            // The CRs inside a block, before its ETX, belong to the block.
            const bool insideBlock = command_.startsWith('\x02') && !command_.contains('\x03');
            if (c != '\r' || insideBlock) {
                command_ += c;
                continue;
            }
            Exchange e{std::exchange(command_, {}), answers_.isEmpty() ? QByteArray() : answers_.takeFirst()};
            if (!e.answer.isEmpty())
                inject(e.answer, 0.2);
            exchanges << e;
        }
    }

    // Every command sent and the answer it got, in order.
    QList<Exchange> exchanges;

private:
    QList<QByteArray> answers_;
    QByteArray command_;
};

// A paging run over the replayed modem on COM2, without retries.
struct SerialRig : PagingRig {
    ReplayModem port;

    explicit SerialRig(QList<QByteArray> answers) : port(pump, std::move(answers)) {
        settings.retries = 0;
        port.SetCommPort(2);
    }
};

} // namespace tessaly::fuzz
