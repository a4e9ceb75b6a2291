// A version-check server's pages (see replayscript.h for the input form: the
// first piece is a tag name, the next ones the pages of the version check and
// of the bulletin, each sent after "200 OK"). The tag reader gives only text
// that stood between the tag pair; the check reports a newer version exactly
// when the page's version is newer, stores only a bulletin number it read,
// and always records the day of the check.

#include "novaprobe/versiontext.h"
#include "platform/settingsstore.h"
#include "tests/fakes/scriptednet.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/virtualeventpump.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/fuzz/replayscript.h"

#include <novaprobe/cwebversion.h>
#include <webwire/chttp.h>

using namespace tessaly;
using novaprobe::CWebVersion;

TESSALY_FUZZ_APP_ONLY()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    QList<QByteArray> pieces = fuzz::SplitReplies(fuzz::Bytes(data, size));

    // The tag reader on its own.
    const QString name = QString::fromLatin1(pieces.takeFirst());
    for (const QByteArray& page : pieces) {
        const QString text = QString::fromLatin1(page);
        const novaprobe::TagValue tag = novaprobe::findTag(text, name);
        if (tag.missing.isEmpty())
            FUZZ_CHECK(text.contains(QStringLiteral("<!") + name + QLatin1Char('>') + tag.value + QStringLiteral("<!/") + name + QLatin1Char('>')));
        else
            FUZZ_CHECK(tag.value.isEmpty());
    }

    // The daily check against a server answering with the pages in order.
    const QString app = QStringLiteral("Tessaly 1.1");
    VirtualEventPump pump(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
    ScriptedNet net{pump};
    ScriptedPrompter prompter;
    MemorySettingsStore store;
    auto web = std::make_shared<HttpResponder>();
    web->respond = [&pieces](const QByteArray&) {
        return pieces.isEmpty() ? QByteArray() : "HTTP/1.0 200 OK\r\n\r\n" + pieces.takeFirst();
    };
    net.listen(QStringLiteral("updates.example"), 80, [web] { return makeHttpScript(web); });
    CWebVersion probe(store, pump, prompter);
    probe.SetHttpFactory([&] { return std::make_unique<webwire::CHTTP>(pump, net, prompter); });
    probe.SetUseWindows(false);
    probe.SetCGIURL(QStringLiteral("updates.example/cgi-bin/novaprobe.cgi"));
    probe.SetProductID(QStringLiteral("10110000001"));
    probe.SetProductName(app);
    probe.SetAppVersion(QStringLiteral("1.5.0010"));
    probe.SetDailyCheck(true);
    store.write(app, QStringLiteral("Settings"), QStringLiteral("NovaprobeBulletin"), QStringLiteral("3"));
    // A newer version the user chose to ignore is named in the log.
    store.write(app, QStringLiteral("Settings"), QStringLiteral("NovaprobeIgnore"), QStringLiteral("9.0.0\r\nforged line"));
    // Without windows a notice is written as activity lines: at most 20 of
    // at most 200 characters, and a line saying the rest is not shown. What
    // the server sent never puts a line break or a control into the log.
    int events = 0;
    QObject::connect(&probe, &CWebVersion::NovaprobeActivity, [&](const QString& line) {
        ++events;
        FUZZ_CHECK(line.size() <= 300);
        for (QChar c : line)
            FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7f);
    });
    QObject::connect(&probe, &CWebVersion::NovaprobeError, [&](const QString& line) {
        ++events;
        for (QChar c : line)
            FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7f);
    });

    const bool newer = probe.CheckVersion();
    FUZZ_CHECK(newer == novaprobe::isNewerVersion(probe.WebVersion(), probe.AppVersion()));
    FUZZ_CHECK(store.read(app, QStringLiteral("Settings"), QStringLiteral("Novaprobe"), QString()) == QStringLiteral("12/07/2026"));
    bool isNumber = false;
    const int bulletin = store.read(app, QStringLiteral("Settings"), QStringLiteral("NovaprobeBulletin"), QString()).toInt(&isNumber);
    FUZZ_CHECK(isNumber && bulletin >= 3 && bulletin <= 32767);
    // Four tags may each be missing, a few lines about the check, and the
    // notice of a new version or of one bulletin.
    FUZZ_CHECK(events <= 12 + 21);
    // Two requests at most, each within its time-out.
    FUZZ_CHECK(web->requests.size() <= 2);
    FUZZ_CHECK(pump.elapsedSeconds() <= 2 * 60);
    return 0;
}
