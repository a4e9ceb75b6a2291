// The filter file: what is read is either refused with a message or saved
// and read back as the same rules.

#include "features/filters/cfilter.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fuzz/fuzzcheck.h"

#include <QFile>
#include <QTemporaryDir>

using namespace tessaly;

namespace {
QTemporaryDir* dir = nullptr;

struct Rule {
    QString name, text;
    std::int16_t object, action;
    bool enabled;
    bool operator==(const Rule&) const = default;
};

QList<Rule> rules(const Filters& f) {
    QList<Rule> out;
    for (const CFilter& r : f)
        out << Rule{r.Name(), r.FilterText(), r.FilterObject(), r.FilterAction(), r.Enabled()};
    return out;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::EnsureApp();
    dir = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    {
        QFile f(dir->filePath(QStringLiteral("filters.dat")));
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    ScriptedPrompter prompter;
    Filters first;
    first.SetDirectory(dir->path());
    first.Read(prompter);
    const QList<Rule> read = rules(first);

    prompter.clear();
    if (!first.Save(prompter)) {
        // Refused: said so, and the file is as it was.
        FUZZ_CHECK(!prompter.messages().isEmpty());
        return 0;
    }
    Filters second;
    second.SetDirectory(dir->path());
    ScriptedPrompter quiet;
    second.Read(quiet);
    FUZZ_CHECK(quiet.messages().isEmpty());
    FUZZ_CHECK(rules(second) == read);
    return 0;
}
