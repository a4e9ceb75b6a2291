#pragma once
// A modem and whatever answers behind it, replayed from a fuzz input: the
// input holds the answers in order, separated by the two bytes 00 FF (see
// replayscript.h). Every command the program ends with a CR gets the next
// answer a moment later (a block, STX to its checksum, counts as one
// command); when they run out the line stays silent. Also the
// paging set-up the serial targets share.

#include "features/paging/comm.h"
#include "features/paging/pagingcontext.h"
#include "platform/settingsstore.h"
#include "state/commstatus.h"
#include "state/livesettings.h"
#include "state/terminal.h"
#include "tests/fakes/fakeserial.h"
#include "tests/fakes/scriptedprompter.h"
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

// The objects a paging run uses, wired as the program wires them.
struct SerialRig {
    VirtualEventPump pump{QDateTime(QDate(2026, 12, 7), QTime(10, 0))};
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    LiveSettings settings;
    bool cancel = false;
    Terminal terminal;
    StatusWindow status{store, QSize(15360, 11520), cancel};
    Comm comm{pump, prompter, terminal, status, settings, cancel};
    QStringList log;
    PagingContext ctx{comm, settings, status, [this](const QString& line) { log << line; }};
    ReplayModem port;

    explicit SerialRig(QList<QByteArray> answers) : port(pump, std::move(answers)) {
        settings.applyFactoryValues();
        settings.retries = 0;
        port.SetCommPort(2);
    }
};

} // namespace tessaly::fuzz
