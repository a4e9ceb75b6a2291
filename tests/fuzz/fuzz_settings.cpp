// The settings file's INI text: whatever is read is written back in a form
// that reads as the same values.

#include "platform/settingsstore.h"
#include "tests/fuzz/fuzzcheck.h"

using namespace tessaly;

TESSALY_FUZZ_APP_ONLY()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const SettingsTable first = SettingsTable::fromIni(text);
    const QByteArray written = first.toIni();
    const SettingsTable second = SettingsTable::fromIni(written);
    if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
        std::fprintf(stderr, "first:\n%s\nsecond:\n%s\n", written.constData(), second.toIni().constData());
    FUZZ_CHECK(second.toIni() == written);
    // A value written through the table reads back unchanged, whatever it holds.
    SettingsTable table = second;
    const QString odd = QString::fromLatin1(text.left(64));
    table.set(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"), QStringLiteral("Probe"), odd);
    const SettingsTable reread = SettingsTable::fromIni(table.toIni());
    const SettingsTable::Value* v = reread.find(QStringLiteral("Tessaly 1.1"), QStringLiteral("Settings"),
                                                QStringLiteral("probe"));
    FUZZ_CHECK(v != nullptr);
    FUZZ_CHECK(v->text == odd);
    return 0;
}
