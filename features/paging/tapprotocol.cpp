// The alphanumeric paging protocol of CPagerService: logon with "PG1",
// checksummed blocks acknowledged one by one, logoff with EOT.

#include "state/commstatus.h"
#include "state/livesettings.h"
#include "features/paging/comm.h"
#include "features/paging/cpagerservice.h"
#include "features/paging/pagestate.h"
#include "features/paging/pagingcontext.h"
#include "ground/printableascii.h"
#include "ground/tessalyerror.h"
#include "platform/serialcontrol.h"

namespace tessaly {

namespace {

constexpr char STX = 2;
constexpr char ETX = 3;
constexpr char EOT = 4;
constexpr char ACK = 6;
constexpr char CR = 13;
constexpr char ESC = 27;
constexpr int kMaxFrame = 256;
// STX, CR after the pager ID, CR after the text, ETX, checksum, CR.
constexpr int kFrameOverhead = 8;
constexpr int kIdTries = 6;

QString logonLine(std::int16_t state) {
    if (state == pagestate::PortUnavailable)
        return QStringLiteral("Comm Port Unavailable");
    const QString reason = pagestate::Reason(state);
    return reason.isEmpty() ? reason : QStringLiteral("Pager: ") + reason;
}

} // namespace

QString CPagerService::LineSettings() const {
    return baud_ + QLatin1Char(',') + parity_.left(1) + QLatin1Char(',') + dataBits_ + QLatin1Char(',') + stopBits_;
}

QByteArray CPagerService::Checksum(const QByteArray& stxToEtx) {
    std::int32_t sum = 0;
    for (char c : stxToEtx)
        sum += static_cast<unsigned char>(c);
    QByteArray out(3, '0');
    out[0] = static_cast<char>(((sum >> 8) & 0xF) + 48);
    out[1] = static_cast<char>(((sum >> 4) & 0xF) + 48);
    out[2] = static_cast<char>((sum & 0xF) + 48);
    return out;
}

QByteArray CPagerService::Frame(const QString& pagerId, const QString& block) {
    // Terminals take printable 7-bit text; on a 7-bit line an eighth bit
    // would be lost and the terminal would sum other bytes than these.
    QByteArray frame;
    frame += STX;
    frame += toPrintableAscii(pagerId).toLatin1();
    frame += CR;
    frame += toPrintableAscii(block).toLatin1();
    frame += CR;
    frame += ETX;
    frame += Checksum(frame);
    frame += CR;
    return frame;
}

// The terminal may want a few CRs before it shows its "ID=" prompt; then the
// password goes with "PG1" and the terminal answers with its go-ahead.
std::int16_t CPagerService::logonDialogue(Comm& comm, SerialControl& port) {
    QString reply;
    bool found = false;
    for (int i = 0; i < kIdTries && !found; ++i) {
        comm.Pause(0.5);
        comm.WaitForText(port, QStringLiteral("ID"), 3, found, reply);
        if (found)
            break;
        if (!port.PortOpen())
            return pagestate::LineLost;
        comm.SendText(port, QString(QChar(CR)));
        if (reply.contains(QLatin1String("NO CARRIER")))
            return pagestate::NoConnection;
    }
    if (!found)
        return pagestate::NoIdPrompt;
    comm.ShowCommStatus(QStringLiteral("Logging On"));
    port.SetInBufferCount(0);
    // The terminal's password is no one's business in the transcript.
    comm.SendText(port, QChar(ESC) + QStringLiteral("PG1") + terminalPassword_ + QChar(CR),
                  QChar(ESC) + QStringLiteral("PG1") +
                      (terminalPassword_.isEmpty() ? QString() : QStringLiteral("****")) + QChar(CR));
    comm.Pause(1);
    reply.clear();
    comm.WaitForText(port, QChar(ESC) + QStringLiteral("[p"), 10, found, reply);
    if (found)
        return pagestate::OK;
    return port.PortOpen() ? pagestate::LogonRefused : pagestate::LineLost;
}

// One call: line settings, modem, dial, logon. `state` follows every step, so
// an unexpected error leaves the state reached so far. A line that does not
// dial is opened and goes straight to the logon.
void CPagerService::callAndLogOn(Comm& comm, SerialControl& port, std::int16_t& state) {
    if (!port.Dials()) {
        state = pagestate::NoConnection;
        port.SetPortOpen(true);
        if (!port.PortOpen())
            return;
        comm.ShowCommStatus(QStringLiteral("Connected to Paging Service"));
        state = logonDialogue(comm, port);
        return;
    }
    port.SetSettings(LineSettings());
    port.SetCommPort(CommPort());
    state = comm.InitModem(port, initstring_);
    if (state != pagestate::OK)
        return;
    comm.Pause(2);
    state = comm.DialService(port, phone_);
    if (state != pagestate::OK)
        return;
    comm.ShowCommStatus(QStringLiteral("Connected to Paging Service"));
    state = logonDialogue(comm, port);
}

bool CPagerService::Logon(PagingContext& ctx, SerialControl& port) {
    Comm& comm = ctx.comm;
    const bool& cancel = comm.CancelFlag();
    if (ctx.settings.statusWindowFlag)
        ctx.status.Show();

    for (int attempt = 0; attempt <= ctx.settings.retries; ++attempt) {
        std::int16_t state = pagestate::OK;
        if (cancel) {
            state = pagestate::Cancelled;
        } else {
            try {
                if (attempt > 0) {
                    comm.ShowCommStatus(QStringLiteral("Retrying"));
                    comm.Pause(ctx.settings.retryWait);
                }
                if (port.PortOpen()) {
                    // Another exchange holds the port: leave it alone, no further attempt.
                    ctx.logActivity(QStringLiteral("Comm Port is already in use..."));
                    return false;
                }
                callAndLogOn(comm, port, state);
            } catch (const TessalyError& e) {
                // An unexpected error ends the attempt with the state reached so far.
                ctx.logActivity(QStringLiteral("Pager: ") + e.description());
                if (state == pagestate::OK)
                    state = pagestate::InitFailed;
            }
        }
        if (state == pagestate::OK) {
            resultState_ = state;
            return true;
        }
        if (cancel)
            state = pagestate::Cancelled;
        resultState_ = state;
        const QString line = logonLine(state);
        if (!line.isEmpty())
            ctx.logActivity(line);
        if (state == pagestate::PortUnavailable)
            return false;
        comm.HangUp(port);
        if (state == pagestate::Cancelled)
            return false;
    }
    return false;
}

// Sends the page block by block. A block that cannot go or is not
// acknowledged ends the page with one activity line naming it, and leaves a
// state other than OK: the page was not delivered. A block too long for one
// frame is cut to fit, and the cut is logged.
void CPagerService::SendTo(PagingContext& ctx, SerialControl& port, const QString& pagerId, const QString& message,
                           int messageNumber) {
    Comm& comm = ctx.comm;
    const int n = messageNumber;
    // Mapped before splitting, so that the blocks are cut to the length of
    // what is actually sent.
    SplitMessage(toPrintableAscii(message), ctx.settings.maxPagesPerMessage);
    const int count = BlockCount();
    const int room = kMaxFrame - kFrameOverhead - static_cast<int>(toPrintableAscii(pagerId).size());
    for (int j = 1; j <= count; ++j) {
        const QString name = QStringLiteral("Message #%1 (%2 of %3)").arg(n).arg(j).arg(count);
        auto fail = [&](std::int16_t state, const QString& why) {
            resultState_ = state;
            ctx.logActivity(name + QLatin1Char(' ') + why);
        };
        comm.ShowCommStatus(QStringLiteral("Sending Message #%1 (%2 of %3)").arg(n).arg(j).arg(count));
        if (room < 1)
            return fail(pagestate::FrameTooLong, QStringLiteral("not sent: the pager ID leaves no room in a block"));
        if (!port.PortOpen())
            return fail(pagestate::LineLost, QStringLiteral("not sent: the modem line was lost"));
        QString block = Block(j);
        if (block.size() > room) {
            ctx.logActivity(
                name + QStringLiteral(" cut from %1 to %2 characters to fit one block").arg(block.size()).arg(room));
            block.truncate(room);
        }
        port.SetInBufferCount(0);
        comm.SendText(port, QString::fromLatin1(Frame(pagerId, block)));
        comm.Pause(1);
        QString reply;
        bool found = false;
        comm.WaitForText(port, QString(QChar(ACK)), 10, found, reply);
        if (!found) {
            if (!port.PortOpen())
                return fail(pagestate::LineLost, QStringLiteral("not acknowledged: the modem line was lost"));
            if (comm.CancelFlag())
                return fail(pagestate::Cancelled, QStringLiteral("not acknowledged: cancelled by the user"));
            return fail(pagestate::NotAcknowledged, QStringLiteral("was not acknowledged by the paging service"));
        }
        comm.ShowCommStatus(QStringLiteral("Message #%1 sent successfully").arg(n));
        ctx.logActivity(name + QStringLiteral(" sent successfully"));
    }
    resultState_ = pagestate::OK;
}

void CPagerService::Logoff(PagingContext& ctx, SerialControl& port) {
    if (port.PortOpen()) {
        ctx.comm.SendText(port, QString(QChar(EOT)) + QChar(CR));
        ctx.comm.Pause(1);
    }
    ctx.comm.HangUp(port);
    resultState_ = pagestate::OK;
}

QList<QByteArray> CPagerService::PlannedFrames(const QString& pagerId, const QString& message, int maxBlocks) {
    SplitMessage(toPrintableAscii(message), maxBlocks);
    const int room = kMaxFrame - kFrameOverhead - static_cast<int>(toPrintableAscii(pagerId).size());
    QList<QByteArray> frames;
    for (int j = 1; j <= BlockCount() && room > 0; ++j)
        frames << Frame(pagerId, Block(j).left(room));
    return frames;
}

} // namespace tessaly
