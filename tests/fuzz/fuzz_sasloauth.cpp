// A server's OAuth error challenge, and the sign-in messages built from
// outside text. The input is read as a challenge twice: as it comes, and
// base64-encoded (so its bytes reach the JSON reader). A refusal read is
// bounded and free of control characters. The input split in two, as a
// user name and a token, never adds a key-value pair to either
// mechanism's message: each keeps its own number of separators.

#include "platform/sasloauth.h"
#include "tests/fuzz/fuzzcheck.h"

using namespace tessaly;

TESSALY_FUZZ_APP_ONLY()

namespace {

void checkRefusal(const std::optional<sasl::OAuthRefusal>& r) {
    if (!r)
        return;
    FUZZ_CHECK(!r->status.isEmpty());
    for (const QString* text : {&r->status, &r->scope}) {
        FUZZ_CHECK(text->size() <= 200);
        for (const QChar c : *text)
            FUZZ_CHECK(c.category() != QChar::Other_Control);
    }
    FUZZ_CHECK(!r->Text().isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkRefusal(sasl::ReadErrorChallenge(bytes));
    checkRefusal(sasl::ReadErrorChallenge(bytes.toBase64()));

    const qsizetype half = bytes.size() / 2;
    const QString user = QString::fromUtf8(bytes.left(half));
    const QString token = QString::fromUtf8(bytes.mid(half));
    using sasl::OAuthMechanism;
    const QByteArray bearer =
        sasl::InitialResponse(OAuthMechanism::OAuthBearer, user, token, QStringLiteral("mail.example.org"), 993);
    FUZZ_CHECK(bearer.count('\x01') == 5);
    FUZZ_CHECK(bearer.startsWith("n,a=") && bearer.endsWith("\x01\x01"));
    FUZZ_CHECK(bearer.indexOf(',', 4) == bearer.indexOf(",\x01")); // "," only ends the GS2 header
    const QByteArray xoauth2 = sasl::InitialResponse(OAuthMechanism::XOAuth2, user, token, QString(), 0);
    FUZZ_CHECK(xoauth2.count('\x01') == 3);
    return 0;
}
