// A profile data file of either format through the reader. The reader never
// lets more than three accounts or a modem profile index out of range in,
// shows at most one problem, and what it took in saves to a file that reads
// back into the same file again.

#include "tests/fuzz/fuzzcheck.h"
#include "tests/unit/profiletestrig.h"

using namespace tessaly;

namespace {
ProfileRig* rig = nullptr;

QByteArray saveTo(const QString& name) {
    const QString file = rig->path(name);
    rig->p().SaveProfile(file);
    return ProfileRig::read(file);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::EnsureApp();
    rig = new ProfileRig;
    rig->dialUp = true; // no conversion to a direct connection between the loads
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    rig->prompter.clear();
    rig->s().applyFactoryValues();
    const QString file =
        rig->write(QStringLiteral("fuzz.dat"), QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    rig->p().LoadProfile(file);

    QStringList problems = rig->prompter.messageTexts();
    problems.removeIf([](const QString& t) { return t.contains(QLatin1String("CIRAS.OCX")); });
    FUZZ_CHECK(problems.size() <= 1);
    FUZZ_CHECK(rig->p().POPAccounts().Count() <= 3);
    FUZZ_CHECK(rig->s().highestModemProfile >= 0 && rig->s().highestModemProfile <= 20);
    FUZZ_CHECK(rig->s().selectedModemProfile >= 0 && rig->s().selectedModemProfile <= 20);

    QByteArray first;
    try {
        first = saveTo(QStringLiteral("first.dat"));
    } catch (const TessalyError&) {
        return 0; // a text the file cannot hold is refused before writing
    }
    rig->prompter.clear();
    rig->p().LoadProfile(rig->path(QStringLiteral("first.dat")));
    QStringList again = rig->prompter.messageTexts();
    again.removeIf([](const QString& t) { return t.contains(QLatin1String("CIRAS.OCX")); });
    FUZZ_CHECK(again.isEmpty());
    const QByteArray second = saveTo(QStringLiteral("second.dat"));
    if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
        std::fprintf(stderr, "first:\n%s\nsecond:\n%s\n", first.constData(), second.constData());
    FUZZ_CHECK(second == first);
    return 0;
}
