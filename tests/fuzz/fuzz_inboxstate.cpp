// The inbox state file: a file is either refused with a reason and changes
// nothing, or read; what was read saves and reads back as the same marks.

#include "features/mail/cmail.h"
#include "features/mail/inboxstate.h"
#include "tests/fuzz/fuzzcheck.h"

#include <QFile>
#include <QTemporaryDir>

using namespace tessaly;

namespace {
QTemporaryDir* dir = nullptr;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::EnsureApp();
    dir = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 20)
        return 0;
    const QString in = dir->filePath(QStringLiteral("in.json"));
    const QString first = dir->filePath(QStringLiteral("first.json"));
    const QString second = dir->filePath(QStringLiteral("second.json"));
    {
        QFile f(in);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    Inbox inbox;
    QString error;
    if (!MergeInboxState(inbox, in, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        // Refused: the inbox holds nothing of it.
        Inbox empty;
        FUZZ_CHECK(SaveInboxState(inbox, first, &error) && SaveInboxState(empty, second, &error));
        FUZZ_CHECK(readAll(first) == readAll(second));
        return 0;
    }
    FUZZ_CHECK(SaveInboxState(inbox, first, &error));
    Inbox again;
    FUZZ_CHECK(MergeInboxState(again, first, &error));
    FUZZ_CHECK(SaveInboxState(again, second, &error));
    FUZZ_CHECK(readAll(first) == readAll(second));
    return 0;
}
