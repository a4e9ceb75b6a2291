// A mail check of a large Dovecot mailbox, beside a minimal reference client
// (Python's poplib) that sends the same commands.
//   bench_check_mailbox [messages ...]      (default: 1000 10000)
// Needs dovecot (dovecot-pop3d) and python3. Prints wall and CPU seconds.

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

#include <QCoreApplication>
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

QByteArray message(int n) {
    return QStringLiteral("Message-ID: <%1@bench.test>\nFrom: Sender %1 <s%1@bench.test>\nTo: me@bench.test\n"
                          "Subject: Message number %1\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n\n"
                          "Body of message %1, a line or two of text.\nSecond line.\n")
        .arg(n)
        .toUtf8();
}

int run(int count) {
    RealEventPump pump;
    DovecotServer dovecot;
    const QString user = QStringLiteral("bench");
    if (!dovecot.start(pump, {{user, QStringLiteral("b3nch")}})) {
        std::fprintf(stderr, "dovecot did not start\n");
        return 1;
    }
    QList<QByteArray> messages;
    for (int n = 1; n <= count; ++n)
        messages << message(n);
    if (!dovecot.deliverAll(user, messages)) {
        std::fprintf(stderr, "could not fill the mailbox\n");
        return 1;
    }

    QTemporaryDir home;
    HeadlessPrompter prompter;
    MemorySettingsStore store;
    store.write(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("DefaultFile"), QString());
    auto sound = createWaveSoundDevice();
    HeadlessMainView view(false);
    TcpLinkFactory links;
    SocketRegistry sockets;
    Pop3Client pop(pump, links, sockets);
    TcpControl tcp(sockets);
    MainProgram program(PlatformServices{pump, prompter, store, *sound, home.path(), QSize(15360, 11520), nullptr,
                                         nullptr, nullptr, &pop, &tcp, nullptr},
                        view);
    program.Startup(QString());
    LiveSettings& s = program.Settings();
    s.connectionType = ConnDirect;
    s.downloadFlag = true;
    s.messageSizeLimit = 20;
    program.POPAccounts().Add(QStringLiteral("Bench"), QStringLiteral("127.0.0.1"), static_cast<std::int16_t>(dovecot.port()),
                              user, QStringLiteral("b3nch"), true);

    // Dovecot builds its index on the first login; warm it so both clients see the same server.
    {
        QProcess warm;
        warm.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(TESSALY_BENCH_DIR "/poplib_reference.py"), QStringLiteral("127.0.0.1"),
                    QString::number(dovecot.port()), user, QStringLiteral("b3nch"), QStringLiteral("0")});
        warm.waitForFinished(600000);
    }

    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    program.Session().Check(true, false);
    const double ourWall = wall.elapsed() / 1000.0;
    const double ourCpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    const int stored = program.GetInbox().Count();

    const double child0 = cpuSeconds(RUSAGE_CHILDREN);
    QProcess ref;
    ref.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral(TESSALY_BENCH_DIR "/poplib_reference.py"), QStringLiteral("127.0.0.1"),
               QString::number(dovecot.port()), user, QStringLiteral("b3nch"), QString::number(20 * 1024)});
    ref.waitForFinished(600000);
    const double refCpu = cpuSeconds(RUSAGE_CHILDREN) - child0;
    const QJsonObject r = QJsonDocument::fromJson(ref.readAllStandardOutput()).object();
    std::printf("%6d messages | tessaly check: %7.2f s wall %6.2f s CPU (%d stored) | poplib: %7.2f s wall %6.2f s CPU\n",
                count, ourWall, ourCpu, stored, r.value(QStringLiteral("wall")).toDouble(), refCpu);
    dovecot.stop();
    return stored == count ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QList<int> counts;
    for (int i = 1; i < argc; ++i)
        counts << QString::fromLocal8Bit(argv[i]).toInt();
    if (counts.isEmpty())
        counts = {1000, 10000};
    if (!DovecotServer::available()) {
        std::fprintf(stderr, "dovecot is not installed (dovecot-pop3d)\n");
        return 1;
    }
    int rc = 0;
    for (int n : counts)
        rc |= run(n);
    return rc;
}
