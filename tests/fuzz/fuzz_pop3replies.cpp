// A server's answer read as a message list, a unique-ID list, a status and a
// capability list. The readers never take a number outside the mailbox, an
// ID that is not 1 to 70 printable characters or one ID for two messages,
// and read CR LF and bare LF line ends alike.

#include "platform/pop3replies.h"
#include "tests/fuzz/fuzzcheck.h"

#include <QSet>
#include <climits>

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    const QByteArray bytes = fuzz::Bytes(data, size);
    const QString answer = QString::fromLatin1(bytes);
    QString bareLf = answer;
    bareLf.replace(QLatin1String("\r\n"), QLatin1String("\n"));

    const QHash<int, std::int32_t> sizes = pop3::ParseList(answer);
    FUZZ_CHECK(sizes.size() <= answer.count(QLatin1Char('\n')));
    FUZZ_CHECK(sizes == pop3::ParseList(bareLf));

    const int firstCount = size > 0 ? data[0] : 0;
    for (int count : {0, 1, 3, firstCount, INT_MAX}) {
        const QHash<int, QString> uids = pop3::ParseUidl(answer, count);
        FUZZ_CHECK(uids.size() <= std::max(count, 0));
        FUZZ_CHECK(uids == pop3::ParseUidl(bareLf, count));
        QSet<QString> distinct;
        for (auto it = uids.cbegin(); it != uids.cend(); ++it) {
            FUZZ_CHECK(it.key() >= 1 && it.key() <= count);
            FUZZ_CHECK(!it.value().isEmpty() && it.value().size() <= 70);
            for (QChar c : it.value())
                FUZZ_CHECK(c.unicode() >= 0x21 && c.unicode() <= 0x7e);
            distinct.insert(it.value());
        }
        FUZZ_CHECK(distinct.size() == uids.size());
    }

    FUZZ_CHECK(pop3::IsPositive(answer) == bytes.startsWith("+OK"));
    if (pop3::OffersBatches(bytes))
        FUZZ_CHECK(bytes.toUpper().contains("PIPELINING"));
    return 0;
}
