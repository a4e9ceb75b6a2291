// A server's header answer (or a whole message) through the header field
// extractors, the page text and the block split of an alphanumeric page.

#include "features/mail/checksession.h"
#include "features/mail/cmail.h"
#include "features/mail/headerfields.h"
#include "features/paging/cpagerservice.h"
#include "tests/fuzz/fuzzcheck.h"

using namespace tessaly;

TESSALY_FUZZ_APP_ONLY()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    const QString header = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QString values[] = {headers::MessageId(header), headers::From(header), headers::To(header),
                              headers::Subject(header), headers::DateSent(header)};
    for (const QString& v : values) {
        // A value runs to the next CR and is lower case.
        FUZZ_CHECK(!v.contains(QLatin1Char('\r')));
        FUZZ_CHECK(v == v.toLower());
        FUZZ_CHECK(v.size() <= header.size());
    }
    // The size is the server's number between "+OK" and "octets" (whatever
    // its sign); without the two it is 0.
    if (!header.contains(QLatin1String("+OK")) || !header.contains(QLatin1String("octets")))
        FUZZ_CHECK(headers::Size(header) == 0);

    CMail mail;
    mail.SetID(values[0]);
    mail.SetFrom(values[1]);
    mail.SetMailTo(values[2]);
    mail.SetSubject(values[3]);
    mail.SetDateSent(values[4]);
    mail.SetPriority(headers::Priority(header));
    mail.SetBody(header);
    for (bool withBody : {false, true}) {
        const QString text = CheckSession::PageText(mail, withBody);
        FUZZ_CHECK(text.contains(QStringLiteral("|From:")));
        if (withBody)
            FUZZ_CHECK(text.startsWith(CheckSession::PageText(mail, false) + QLatin1Char('|')));

        // Split as a service with a short and with a long block length.
        for (int width : {1, 80, 240}) {
            CPagerService service;
            service.SetMaxPageChar(width);
            for (int maxBlocks : {1, 3, 20, 0, 99}) {
                service.SplitMessage(text, maxBlocks);
                const int limit = (maxBlocks < 1 || maxBlocks > 20) ? 20 : maxBlocks;
                FUZZ_CHECK(service.BlockCount() >= 1 && service.BlockCount() <= limit);
                for (int b = 1; b < service.BlockCount(); ++b)
                    FUZZ_CHECK(service.Block(b).size() <= width);
                const QByteArray frame = CPagerService::Frame(QStringLiteral("1234"), service.Block(1));
                // The checksum covers STX through ETX, exactly the bytes sent before it.
                const qsizetype etx = frame.size() - 5;
                FUZZ_CHECK(etx > 0 && frame.at(etx) == '\x03');
                FUZZ_CHECK(frame.mid(etx + 1, 3) == CPagerService::Checksum(frame.left(etx + 1)));
            }
        }
    }
    return 0;
}
