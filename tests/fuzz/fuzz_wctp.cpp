// A carrier's answer read as a WCTP confirmation and as a poll response.
// Nothing over the size limit is read; whatever is read is no longer than
// the answer (no entity grows it), an unreadable answer carries no code or
// text, and a failure is permanent exactly when its code says so.

#include "features/paging/wctp.h"
#include "tests/fuzz/fuzzcheck.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 17)
        return 0;
    const QByteArray xml = fuzz::Bytes(data, size);

    const wctp::Confirmation c = wctp::ReadConfirmation(xml);
    switch (c.outcome) {
    case wctp::Outcome::Unreadable:
        FUZZ_CHECK(c.code == 0 && c.text.isEmpty() && c.trackingId.isEmpty());
        break;
    case wctp::Outcome::Success:
        FUZZ_CHECK(xml.contains("wctp-Success"));
        break;
    case wctp::Outcome::Permanent:
        FUZZ_CHECK(wctp::IsPermanent(c.code));
        FUZZ_CHECK(xml.contains("wctp-Failure"));
        break;
    case wctp::Outcome::Temporary:
        FUZZ_CHECK(!wctp::IsPermanent(c.code));
        FUZZ_CHECK(xml.contains("wctp-Failure"));
        break;
    }
    if (c.outcome != wctp::Outcome::Unreadable) {
        FUZZ_CHECK(xml.size() <= wctp::kMaxAnswer);
        FUZZ_CHECK(xml.contains("wctp-Confirmation"));
        FUZZ_CHECK(c.code >= 0);
        FUZZ_CHECK(c.text.size() + c.trackingId.size() <= xml.size());
    }
    const wctp::Confirmation again = wctp::ReadConfirmation(xml);
    FUZZ_CHECK(again.outcome == c.outcome && again.code == c.code && again.text == c.text);

    const QList<wctp::StatusNotice> notices = wctp::ReadPollResponse(xml);
    FUZZ_CHECK(notices.size() <= xml.count("wctp-StatusInfo"));
    if (!notices.isEmpty())
        FUZZ_CHECK(xml.size() <= wctp::kMaxAnswer);
    for (const wctp::StatusNotice& n : notices)
        FUZZ_CHECK(n.messageId.size() + n.type.size() <= xml.size());
    return 0;
}
