// The inbox state file of a large mailbox: its size, and the time to write it
// and to read it back into a fresh inbox.
//   bench_inbox_state [messages ...]      (default: 10000)
// Message IDs are of the long kind large mail services write (about 90
// characters); every message is marked paged. Exits non-zero when the file
// of 10 000 messages reaches 2 MB.

#include "features/mail/cmail.h"
#include "features/mail/inboxstate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

using namespace tessaly;

namespace {

constexpr qint64 kLimitBytes = 2 * 1024 * 1024;

QString longId(int n) {
    return QStringLiteral("<DM6PR11MB%1A1B2C3D4E5F6A7B8C9D0E1F2A3B4C5D6@DM6PR11MB%1.namprd11.prod.outlook.com>")
        .arg(n, 6, 10, QLatin1Char('0'));
}

int run(int count) {
    Inbox inbox;
    for (int n = 1; n <= count; ++n) {
        auto m = std::make_unique<CMail>();
        m->SetID(longId(n));
        m->SetNewMessage(true);
        m->SetSubject(QStringLiteral("Subject of message %1").arg(n));
        m->SetBody(QString(2000, QLatin1Char('b')));
        inbox.Add(std::move(m), longId(n)).SetPaged(true);
    }
    QTemporaryDir dir;
    const QString path = dir.path() + QLatin1Char('/') + kInboxStateFile;
    QString error;
    QElapsedTimer t;
    t.start();
    if (!SaveInboxState(inbox, path, &error)) {
        std::fprintf(stderr, "not saved: %s\n", qPrintable(error));
        return 1;
    }
    const double saveMs = t.nsecsElapsed() / 1e6;
    Inbox fresh;
    t.restart();
    if (!MergeInboxState(fresh, path, &error)) {
        std::fprintf(stderr, "not read: %s\n", qPrintable(error));
        return 1;
    }
    const double readMs = t.nsecsElapsed() / 1e6;
    const qint64 bytes = QFileInfo(path).size();
    std::printf("%6d messages | state file %8lld bytes (%.1f bytes per message) | write %7.1f ms | read %7.1f ms "
                "(%d remembered)\n",
                count, static_cast<long long>(bytes), static_cast<double>(bytes) / count, saveMs, readMs,
                fresh.RememberedCount());
    if (fresh.RememberedCount() != count)
        return 2;
    return count <= 10000 && bytes >= kLimitBytes ? 3 : 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QList<int> counts;
    for (int i = 1; i < argc; ++i)
        counts << QString::fromLocal8Bit(argv[i]).toInt();
    if (counts.isEmpty())
        counts = {10000};
    int rc = 0;
    for (int n : counts)
        rc |= run(n);
    return rc;
}
