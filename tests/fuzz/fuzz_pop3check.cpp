// A POP3 server's replies to a whole mail check: the input is the server's
// greeting and its answers to the commands, in order, separated by the two
// bytes 00 FF; each answer goes out when the next command arrives, and the
// server hangs up when they run out. The check always ends, keeps no more
// messages than the server announced, and keeps none without a message ID.

#include "features/mail/checksession.h"
#include "features/mail/cmail.h"
#include "platform/pop3client.h"
#include "platform/popcontrol.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/fuzz/replayscript.h"

using namespace tessaly;

TESSALY_FUZZ_APP_ONLY()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    const QList<QByteArray> replies =
        fuzz::SplitReplies(fuzz::Bytes(data, size));

    ProgramRig rig;
    ScriptedNet net{rig.pump};
    net.setLatency(0.01);
    net.listen(QStringLiteral("pop.example.org"), 110,
               [&] { return std::make_unique<fuzz::ReplayScript>(replies); });
    SocketRegistry sockets;
    Pop3Client pop{rig.pump, net, sockets};
    TcpControl tcp{sockets};
    MainProgram& program = rig.startWithoutProfile({.pop = &pop, .tcp = &tcp});
    LiveSettings& s = program.Settings();
    s.connectionType = ConnDirect;
    s.downloadFlag = true;
    s.pagingEnabled = false;
    s.messageSizeLimit = 20;
    program.POPAccounts().Add(QStringLiteral("Work"), QStringLiteral("pop.example.org"), 110,
                              QStringLiteral("user"), QStringLiteral("secret"), true);

    const QDateTime started = rig.pump.now();
    program.Session().Check(true, false);

    if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
        std::fprintf(stderr, "%s\ninbox %d\n", qPrintable(program.ActivityText()), program.GetInbox().Count());
    FUZZ_CHECK(!program.Session().Running());
    const CPOPAccount& account = program.POPAccounts().Item(1);
    FUZZ_CHECK(account.Messages() >= 0);
    FUZZ_CHECK(program.GetInbox().Count() <= account.Messages());
    for (const CMail& mail : program.GetInbox())
        FUZZ_CHECK(!mail.ID().isEmpty());
    // Every wait of the check is bounded: a check of this one account ends
    // within a day of virtual time however the server behaves.
    FUZZ_CHECK(started.secsTo(rig.pump.now()) < 24 * 3600);
    return 0;
}
