// A message (or any bytes) through the mail text decoder: header values,
// MIME bodies, HTML, the transfer encodings both ways, and the page text
// the mail check composes from a header and a body.

#include "features/mail/checksession.h"
#include "features/mail/cmail.h"
#include "ground/mimetext.h"
#include "tests/fuzz/fuzzcheck.h"

using namespace tessaly;
using namespace tessaly::mimetext;

TESSALY_FUZZ_APP_ONLY()

namespace {

// Readable text: valid UTF-16, and of the control characters only those allowed.
bool readable(const QString& text, bool lineBreaks) {
    if (!text.isValidUtf16())
        return false;
    for (const QChar c : text)
        if ((c.unicode() < 0x20 && !(lineBreaks && (c == QLatin1Char('\n') || c == QLatin1Char('\t')))) ||
            c.unicode() == 0x7F)
            return false;
    return true;
}

QByteArray crlf(QByteArray b) {
    b.replace("\r\n", "\n");
    b.replace('\r', '\n');
    return b.replace("\n", "\r\n");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    const QByteArray bytes = fuzz::Bytes(data, size);

    const QString body = BodyText(bytes);
    FUZZ_CHECK(body.size() <= kMaxTextChars);
    FUZZ_CHECK(readable(body, true));

    const QString header = DecodeHeaderValue(bytes);
    FUZZ_CHECK(header.size() <= kMaxHeaderBytes);
    FUZZ_CHECK(readable(header, false));

    const QString html = HtmlToText(QString::fromLatin1(bytes));
    FUZZ_CHECK(html.size() <= kMaxTextChars && html.isValidUtf16());

    FUZZ_CHECK(DecodeQuotedPrintable(bytes).size() <= bytes.size());
    FUZZ_CHECK(DecodeBase64(bytes).size() <= bytes.size() * 3 / 4 + 1);

    // What the sender encodes decodes to the same bytes and text, in short lines.
    const QByteArray qp = EncodeQuotedPrintable(bytes);
    FUZZ_CHECK(DecodeQuotedPrintable(qp) == crlf(bytes));
    const QByteArray encodedHeader = EncodeHeaderValue(header);
    if (encodedHeader.size() <= kMaxHeaderBytes)
        FUZZ_CHECK(DecodeHeaderValue(encodedHeader) == header);
    for (const QByteArray& line : qp.split('\n'))
        FUZZ_CHECK(line.size() <= 77);
    if (encodedHeader != header.toLatin1())
        for (const QByteArray& line : encodedHeader.split('\n'))
            FUZZ_CHECK(line.size() <= 76);

    CMail mail;
    mail.SetHeader(QString::fromLatin1(bytes));
    mail.SetBody(QString::fromLatin1(bytes));
    const QString page = CheckSession::PageText(mail, true);
    FUZZ_CHECK(page.contains(QStringLiteral("|From:")) && page.isValidUtf16());
    FUZZ_CHECK(page.size() <= 6 * kMaxHeaderBytes + kMaxTextChars + 32);
    return 0;
}
