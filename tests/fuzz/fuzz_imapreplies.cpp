// An IMAP server's bytes, read two ways. As a stream of responses fed in
// pieces: every call takes bytes or waits for more, no kept literal is over
// the limit, no list nests deeper than allowed, and once a response was
// unreadable every later one is too. As the server's side of a mailbox read
// (see replayscript.h for the input form; the client's tags are T1, T2, ...):
// the client ends every step, keeps no more than it asked for, and never
// waits past its time-outs.

#include "platform/imapclient.h"
#include "platform/imapreplies.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/virtualeventpump.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/fuzz/replayscript.h"

using namespace tessaly;

TESSALY_FUZZ_APP_ONLY()

namespace {

void checkValue(const imap::Value& v, const imap::Limits& limits, int depth) {
    FUZZ_CHECK(depth <= limits.maxDepth);
    if (v.literal)
        FUZZ_CHECK(v.tooBig ? v.text.isEmpty() : v.text.size() == v.size && v.size <= limits.maxLiteral);
    for (const imap::Value& i : v.items)
        checkValue(i, limits, depth + 1);
}

void readStream(const QByteArray& bytes) {
    imap::Limits limits;
    limits.maxLine = 4096;
    limits.maxLiteral = 64;
    limits.maxDepth = 8;
    limits.maxValues = 500;
    imap::ResponseReader reader(limits);
    // The first byte sets the piece size, so splits fall everywhere.
    const qsizetype piece = bytes.isEmpty() ? 1 : 1 + static_cast<unsigned char>(bytes[0]) % 17;
    QByteArray buffer;
    bool failed = false;
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        buffer += bytes.mid(at, piece);
        for (;;) {
            const qsizetype before = buffer.size();
            const std::optional<imap::Response> r = reader.Next(buffer);
            if (!r) {
                FUZZ_CHECK(buffer.isEmpty()); // everything taken, the rest is awaited
                break;
            }
            FUZZ_CHECK(buffer.size() <= before);
            if (failed) {
                FUZZ_CHECK(r->kind == imap::Response::Kind::Unreadable);
                return;
            }
            if (r->kind == imap::Response::Kind::Unreadable) {
                failed = true;
                continue;
            }
            for (const imap::Value& v : r->data)
                checkValue(v, limits, 0);
            if (r->kind == imap::Response::Kind::Tagged)
                FUZZ_CHECK(r->status == "OK" || r->status == "NO" || r->status == "BAD");
        }
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
    net.listen(QStringLiteral("imap.example.org"), 143,
               [&] { return std::make_unique<fuzz::ReplayScript>(replies); });
    ImapClient client(pump, net);
    client.SetHost(QStringLiteral("imap.example.org"));
    client.SetSecurity(Security::None);
    client.SetTimeout(60);
    client.SetHeaderLimit(4096);
    client.SetMessageLimit(8192);
    const QDateTime started = pump.now();
    int steps = 0;
    int result = client.Connect();
    ++steps;
    if (result == 0) {
        result = client.Login(QStringLiteral("user"), QStringLiteral("p\u00e4ss"));
        steps += 2;
    }
    if (result == 0) {
        result = client.Examine(QStringLiteral("INBOX"));
        ++steps;
    }
    QList<ImapClient::MessageInfo> infos;
    if (result == 0) {
        const qint64 exists = client.CurrentMailbox().exists;
        result = client.FetchUidsAndSizes(infos);
        ++steps;
        // Numbers only up to the count the folder had, never beyond.
        FUZZ_CHECK(infos.size() <= std::max<qint64>(exists, 0));
    }
    const QList<quint32> wanted{1, 2, 3};
    QHash<quint32, ImapClient::Fetched> out;
    if (client.IsOpen()) {
        client.FetchHeaders(wanted, out);
        client.FetchMessages(wanted, out);
        steps += 2;
    }
    for (auto it = out.cbegin(); it != out.cend(); ++it) {
        FUZZ_CHECK(wanted.contains(it.key()));
        FUZZ_CHECK(it->text.size() <= 8192);
        if (it->tooBig)
            FUZZ_CHECK(it->text.isEmpty());
    }
    if (client.IsOpen() && client.Offers("IDLE") && client.StartIdle() == 0) {
        pump.pause(1, nullptr);
        client.StopIdle();
        steps += 2;
    }
    client.Logout();
    ++steps;
    // Each step waits at most its deadline (the default 300 s for bodies),
    // a literal's "+" included.
    FUZZ_CHECK(started.secsTo(pump.now()) <= 300 * 2 * (steps + 1));
    return 0;
}
