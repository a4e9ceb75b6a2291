// A response header's Set-Cookie lines through the cookie store. The store
// never holds more than 300 cookies, keeps its keys unique, and the Cookie
// line it sends back is one line: no text of a cookie can add a header line.

#include "tests/fuzz/fuzzcheck.h"
#include "webwire/cookies.h"

#include <QSet>

using namespace tessaly;
using namespace webwire;

TESSALY_FUZZ_APP_ONLY()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    const QString header = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Cookies store;
    store.SetRequestHostName(QStringLiteral("www.example"));
    store.SetRequestURL(QStringLiteral("/"));
    store.Add(QStringLiteral("kept"), QStringLiteral("1"), {}, QStringLiteral("www.example"), {}, QStringLiteral("/"),
              {}, {}, {}, QStringLiteral("kept"));
    // The same header twice: the second pass replaces what the first stored.
    store.GetCookies(header);
    const int once = store.Count();
    store.GetCookies(header);
    FUZZ_CHECK(store.Count() == once);
    FUZZ_CHECK(store.Count() <= Cookies::kMaxCookies);

    const QString line = store.SendCookies();
    const qsizetype breaks = line.count(QLatin1Char('\n')) + line.count(QLatin1Char('\r'));
    FUZZ_CHECK(breaks <= 2);
    if (breaks)
        FUZZ_CHECK(line.endsWith(QLatin1String("\r\n")) && line.indexOf(QLatin1Char('\r')) == line.size() - 2);
    return 0;
}
