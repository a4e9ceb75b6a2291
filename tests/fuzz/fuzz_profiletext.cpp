// Assignments to the profile's text form (one "key=value" per non-empty input line)
// against a saved profile. A refused set leaves the file byte for byte as it
// was and says why; an accepted one keeps at most three accounts, and what
// the text form then shows is a fixed point: set again, it saves the same
// file.

#include "app/profiletext.h"
#include "features/mail/cpopaccount.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/unit/profiletestrig.h"

using namespace tessaly;

namespace {
ProfileRig* rig = nullptr;
QByteArray base;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::EnsureApp();
    rig = new ProfileRig;
    rig->s().applyFactoryValues();
    const QString file = rig->path(QStringLiteral("base.dat"));
    rig->p().SaveProfile(file);
    base = ProfileRig::read(file);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 14)
        return 0;
    QStringList assignments = QString::fromUtf8(fuzz::Bytes(data, size)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (assignments.size() > 64)
        return 0;
    const QString file = rig->write(QStringLiteral("fuzz.dat"), base);
    QString out, err;
    const int rc = SetProfileCommand(rig->p(), file, assignments, err);
    FUZZ_CHECK(rc == 0 || rc == 64 || rc == 73);
    if (rc != 0) {
        FUZZ_CHECK(ProfileRig::read(file) == base);
        FUZZ_CHECK(err.startsWith(QLatin1String("tessly: ")));
        return 0;
    }
    FUZZ_CHECK(rig->p().POPAccounts().Count() <= 3);
    const QByteArray saved = ProfileRig::read(file);

    FUZZ_CHECK(ShowProfileCommand(rig->p(), file, out, err) == 0);
    QStringList shown;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1String(" = "));
        FUZZ_CHECK(eq > 0);
        shown << line.left(eq) + QLatin1Char('=') + line.mid(eq + 3);
    }
    err.clear();
    const int again = SetProfileCommand(rig->p(), file, shown, err);
    if (again != 0)
        std::fprintf(stderr, "%s", qPrintable(err));
    FUZZ_CHECK(again == 0);
    FUZZ_CHECK(ProfileRig::read(file) == saved);
    return 0;
}
