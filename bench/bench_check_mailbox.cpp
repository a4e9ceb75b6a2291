// Mail checks of a large Dovecot mailbox, beside a minimal reference client
// (Python's poplib) that holds the conversation of a check that keeps
// nothing between checks: the first check of a fresh program directory and
// a second one of the unchanged mailbox by the same resident program, on
// loopback and through a relay that adds a round trip time.
//   bench_check_mailbox [--rtt MS] [--slow-first-up-to N] [--big-header MIB] [messages ...]
//   (defaults: 30 ms, 1000; 1000 10000 messages). --big-header gives the
//   first message a header line of MIB MiB, which the checks pass over.
// Needs dovecot (dovecot-pop3d) and python3. Prints wall time, CPU time and
// peak resident size of each check.

#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "features/mail/checksession.h"
#include "platform/bytelink.h"
#include "platform/eventpump.h"
#include "platform/headlessprompter.h"
#include "platform/pop3client.h"
#include "platform/popcontrol.h"
#include "platform/settingsstore.h"
#include "platform/sounddevice.h"
#include "tests/integration/dovecot.h"
#include "tests/integration/latencyproxy.h"

#include <QCoreApplication>
#include <QFile>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include "tests/fakes/cputime.h"

using namespace tessaly;
using namespace tessaly::testing;

namespace {

int bigHeaderMib = 0;

QByteArray message(int n) {
    QByteArray m = QStringLiteral("Message-ID: <%1@bench.test>\nFrom: Sender %1 <s%1@bench.test>\nTo: me@bench.test\n"
                                  "Subject: Message number %1\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n")
                       .arg(n)
                       .toUtf8();
    if (n == 1 && bigHeaderMib > 0)
        m += "X-Huge: " + QByteArray(qsizetype(bigHeaderMib) << 20, 'h') + "\n";
    return m + QStringLiteral("\nBody of message %1, a line or two of text.\nSecond line.\n").arg(n).toUtf8();
}

const QString kUser = QStringLiteral("bench");
const QString kPassword = QStringLiteral("b3nch");
constexpr int kLimitKb = 20;

// Peak resident size since the last reset, in MB (the kernel's high-water mark).
void resetPeak() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}
double peakMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

struct Sample {
    double wall = 0, cpu = 0, rssMb = 0;
    int stored = 0;
};

// A resident program whose checks the benchmark times.
struct Program {
    HeadlessPrompter prompter;
    MemorySettingsStore store;
    std::unique_ptr<SoundDevice> sound = createWaveSoundDevice();
    HeadlessMainView view{false};
    TcpLinkFactory links;
    SocketRegistry sockets;
    std::unique_ptr<Pop3Client> pop;
    TcpControl tcp{sockets};
    std::unique_ptr<MainProgram> program;

    Program(EventPump& pump, const QString& home, quint16 port) {
        pop = std::make_unique<Pop3Client>(pump, links, sockets);
        store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("DefaultFile"), QString());
        program = std::make_unique<MainProgram>(PlatformServices{pump, prompter, store, *sound, home, QSize(15360, 11520),
                                                                 nullptr, nullptr, nullptr, pop.get(), &tcp, nullptr},
                                                view);
        program->Startup(QString());
        LiveSettings& s = program->Settings();
        s.connectionType = ConnDirect;
        s.downloadFlag = true;
        s.messageSizeLimit = kLimitKb;
        program->POPAccounts().Add(QStringLiteral("Bench"), QStringLiteral("127.0.0.1"), static_cast<std::int16_t>(port),
                                   kUser, kPassword, true);
    }
    void setPort(quint16 port) { program->POPAccounts().Item(1).SetMailPort(static_cast<std::int16_t>(port)); }
    Sample check() {
        Sample out;
        resetPeak();
        QElapsedTimer wall;
        wall.start();
        const double cpu0 = cpuSeconds(RUSAGE_SELF);
        program->RunCheck(true, false);
        out.wall = wall.elapsed() / 1000.0;
        out.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
        out.rssMb = peakMb();
        out.stored = program->GetInbox().Count();
        return out;
    }
};

// The reference client's conversation; `limitBytes` 0 downloads nothing.
Sample reference(quint16 port, int limitBytes) {
    if (bigHeaderMib > 0)
        return {}; // poplib refuses lines over 2 KiB; no reference then
    QProcess ref;
    ref.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral(TESSALY_BENCH_DIR "/poplib_reference.py"), QStringLiteral("127.0.0.1"),
               QString::number(port), kUser, kPassword, QString::number(limitBytes)});
    ref.waitForFinished(3600000);
    const QJsonObject r = QJsonDocument::fromJson(ref.readAllStandardOutput()).object();
    Sample out;
    out.wall = r.value(QStringLiteral("wall")).toDouble();
    out.cpu = r.value(QStringLiteral("cpu")).toDouble();
    out.rssMb = r.value(QStringLiteral("maxrss_kb")).toDouble() / 1024.0;
    out.stored = r.value(QStringLiteral("messages")).toInt();
    return out;
}

void print(int count, const char* net, const char* which, const Sample& ours, const Sample* ref) {
    std::printf("%6d | %-8s | %-6s | tessaly %8.2f s wall %6.2f s CPU %5.1f MB (%6.1f us CPU/msg)", count, net, which,
                ours.wall, ours.cpu, ours.rssMb, ours.cpu / count * 1e6);
    if (ref && bigHeaderMib == 0)
        std::printf(" | poplib %8.2f s wall %6.2f s CPU %5.1f MB", ref->wall, ref->cpu, ref->rssMb);
    std::printf("\n");
    std::fflush(stdout);
}

// `slowFirstUpTo`: the first check through the delaying relay (and the
// reference's conversations there) only for mailboxes up to this size; a
// first check of 10 000 messages at 30 ms takes a quarter of an hour.
int run(int count, double rttMs, int slowFirstUpTo) {
    RealEventPump pump;
    DovecotServer dovecot;
    if (!dovecot.start(pump, {{kUser, kPassword}})) {
        std::fprintf(stderr, "dovecot did not start\n");
        return 1;
    }
    QList<QByteArray> messages;
    for (int n = 1; n <= count; ++n)
        messages << message(n);
    if (!dovecot.deliverAll(kUser, messages)) {
        std::fprintf(stderr, "could not fill the mailbox\n");
        return 1;
    }
    messages = {}; // not counted in the checks' peak
    // Dovecot builds its index on the first login; warm it so both clients see the same server.
    reference(dovecot.port(), 0);
    LatencyProxy proxy;
    if (!proxy.start(dovecot.port(), rttMs / 2, freeLowPort())) {
        std::fprintf(stderr, "the latency relay did not start\n");
        return 1;
    }
    const QByteArray net = QStringLiteral("%1 ms").arg(rttMs).toLatin1();
    int rc = 0;
    {
        QTemporaryDir home;
        Program p(pump, home.path(), dovecot.port());
        const Sample first = p.check();
        const Sample refFirst = reference(dovecot.port(), kLimitKb * 1024);
        print(count, "loopback", "first", first, &refFirst);
        const Sample second = p.check();
        const Sample refSecond = reference(dovecot.port(), 0);
        print(count, "loopback", "second", second, &refSecond);
        // The same mailbox through the relay.
        p.setPort(proxy.port());
        const Sample slowSecond = p.check();
        if (count <= slowFirstUpTo) {
            const Sample refSlow = reference(proxy.port(), 0);
            print(count, net.constData(), "second", slowSecond, &refSlow);
        } else {
            print(count, net.constData(), "second", slowSecond, nullptr);
        }
        const int readable = bigHeaderMib > 0 ? count - 1 : count;
        rc |= first.stored == readable && second.stored == readable && slowSecond.stored == readable ? 0 : 2;
    }
    if (count <= slowFirstUpTo) {
        QTemporaryDir home;
        Program p(pump, home.path(), proxy.port());
        const Sample first = p.check();
        const Sample refFirst = reference(proxy.port(), kLimitKb * 1024);
        print(count, net.constData(), "first", first, &refFirst);
        rc |= first.stored == (bigHeaderMib > 0 ? count - 1 : count) ? 0 : 2;
    }
    proxy.stop();
    dovecot.stop();
    return rc;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QList<int> counts;
    double rttMs = 30;
    int slowFirstUpTo = 1000;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rtt") && i + 1 < args.size())
            rttMs = args[++i].toDouble();
        else if (args[i] == QLatin1String("--slow-first-up-to") && i + 1 < args.size())
            slowFirstUpTo = args[++i].toInt();
        else if (args[i] == QLatin1String("--big-header") && i + 1 < args.size())
            bigHeaderMib = args[++i].toInt();
        else
            counts << args[i].toInt();
    }
    if (counts.isEmpty())
        counts = {1000, 10000};
    if (!DovecotServer::available()) {
        std::fprintf(stderr, "dovecot is not installed (dovecot-pop3d)\n");
        return 1;
    }
    int rc = 0;
    for (int n : counts)
        rc |= run(n, rttMs, slowFirstUpTo);
    return rc;
}
