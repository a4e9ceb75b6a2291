// The secret stores: the private file, and the desktop's secret service
// (a fake one on a message bus of the test's own).

#include "platform/eventpump.h"
#include "platform/secretservice.h"
#include "platform/secretstore.h"
#include "tests/fakes/fakesecretservice.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace tessaly;

namespace {

// Real waits for the bus's answers, virtual time for deadlines: a wait ends
// in the real event loop as soon as its condition holds, and when the test
// knows that nothing will ever end it (`hopeless`, given the wait's length)
// the clock jumps over the whole deadline instead of sleeping through it.
class BusPump : public EventPump {
public:
    explicit BusPump(std::function<bool(double)> hopeless) : hopeless_(std::move(hopeless)) {}
    void yield() override { real_.yield(); }
    bool waitUntil(const std::function<bool()>& done, double seconds, const bool* cancel) override {
        const auto finished = [&] { return done && done(); };
        // 30 real seconds only if the test itself is broken.
        real_.waitUntil([&] { return finished() || hopeless_(seconds); }, 30, cancel);
        if (finished())
            return true;
        skippedMs_ += qint64(seconds * 1000);
        return false;
    }
    void pause(double seconds, const bool*) override {
        skippedMs_ += qint64(seconds * 1000);
        real_.yield();
    }
    QDateTime now() const override { return real_.now().addMSecs(skippedMs_); }
    qint64 steadyMs() const override { return real_.steadyMs() + skippedMs_; }
    std::unique_ptr<Timer> createTimer() override { return real_.createTimer(); }
    double skippedSeconds() const { return skippedMs_ / 1000.0; }

private:
    RealEventPump real_;
    std::function<bool(double)> hopeless_;
    qint64 skippedMs_ = 0;
};

// A private bus with the fake service on one connection and the store on another.
struct ServiceRig {
    PrivateBus bus;
    std::unique_ptr<FakeSecretService> fake;
    std::unique_ptr<BusPump> pump;
    std::unique_ptr<SecretServiceStore> store;
    QDBusConnection client{QString()};

    bool start(QString* why) {
        static int serial = 0;
        ++serial;
        if (!bus.start(why))
            return false;
        client = bus.connect(QStringLiteral("client%1").arg(serial));
        fake = std::make_unique<FakeSecretService>(bus.connect(QStringLiteral("service%1").arg(serial)));
        pump = std::make_unique<BusPump>([this](double seconds) {
            return fake &&
                   (fake->callStalled() || (seconds > SecretServiceStore::kCallSeconds && fake->promptStalled()));
        });
        store = std::make_unique<SecretServiceStore>(*pump, client);
        *why = QStringLiteral("the fake service could not register");
        return client.isConnected() && fake->registered();
    }
};

#define START_RIG(rig)                                                                                                 \
    ServiceRig rig;                                                                                                    \
    do {                                                                                                               \
        QString failure;                                                                                               \
        if (!rig.start(&failure)) {                                                                                    \
            if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())                               \
                QSKIP(qPrintable(failure));                                                                            \
            QFAIL(qPrintable(failure));                                                                                \
        }                                                                                                              \
    } while (false)

const QString kKey = QStringLiteral("account:Work Mail:refresh");
const QString kToken = QStringLiteral("1//0gRefresh-Tøken\twith\nodd characters");

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

QByteArray line(const char* key, const QString& value) {
    return QByteArray(key) + '\t' + value.toUtf8().toBase64() + '\n';
}

void putFile(const QString& path, const QByteArray& bytes, mode_t mode) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
    f.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

QByteArray contentsOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestSecretStore : public QObject {
    Q_OBJECT
private slots:
    void fileRoundTrip() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("secrets"));
        FileSecretStore store(path);
        QString why;
        QVERIFY(!store.Read(kKey, &why) && why.isEmpty()); // no file yet: nothing stored
        QVERIFY(store.Remove(kKey, &why));
        QVERIFY2(store.Write(kKey, kToken, &why), qPrintable(why));
        QVERIFY(store.Write(QStringLiteral("smtp:refresh"), QString(), &why));
        QCOMPARE(modeOf(path), mode_t(0600));
        QVERIFY(!contentsOf(path).contains("Refresh")); // base64, one line per key

        FileSecretStore again(path);
        QCOMPARE(again.Read(kKey, &why), std::optional<QString>(kToken));
        QCOMPARE(again.Read(QStringLiteral("smtp:refresh"), &why), std::optional<QString>(QString()));
        QVERIFY(again.Write(kKey, QStringLiteral("newer"), &why));
        QCOMPARE(again.Read(kKey, &why), std::optional<QString>(QStringLiteral("newer")));
        QCOMPARE(contentsOf(path).count('\n'), 3);
        QVERIFY(again.Remove(kKey, &why));
        QVERIFY(!again.Read(kKey, &why) && why.isEmpty());
        QCOMPARE(again.Read(QStringLiteral("smtp:refresh"), &why), std::optional<QString>(QString()));
        QCOMPARE(again.Where(), path);
    }

    void keysThatNoStoreTakes_data() {
        QTest::addColumn<QString>("key");
        QTest::newRow("empty") << QString();
        QTest::newRow("tab") << QStringLiteral("account:a\tb:refresh");
        QTest::newRow("newline") << QStringLiteral("account:a\nb:refresh");
        QTest::newRow("carriage return") << QStringLiteral("smtp:refresh\r");
        QTest::newRow("too long") << QString(kMaxSecretKeyChars + 1, QLatin1Char('k'));
    }
    void keysThatNoStoreTakes() {
        QFETCH(QString, key);
        QTemporaryDir dir;
        FileSecretStore store(dir.filePath(QStringLiteral("secrets")));
        QString why;
        QVERIFY(!store.Write(key, kToken, &why) && !why.isEmpty());
        why.clear();
        QVERIFY(!store.Read(key, &why) && !why.isEmpty());
        why.clear();
        QVERIFY(!store.Remove(key, &why) && !why.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("secrets"))));
    }

    void fileOthersCanReadIsNotTrustedUntilRewritten() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("secrets"));
        putFile(path, "tessaly-secrets 1\n" + line("smtp:refresh", kToken), 0644);
        FileSecretStore store(path);
        QString why;
        QVERIFY(!store.Read(QStringLiteral("smtp:refresh"), &why));
        QVERIFY2(why.contains(QLatin1String("other users")) && why.contains(path), qPrintable(why));
        QVERIFY(!why.contains(kToken));
        QVERIFY(store.Write(kKey, QStringLiteral("v"), &why));
        QCOMPARE(modeOf(path), mode_t(0600));
        why.clear();
        QCOMPARE(store.Read(QStringLiteral("smtp:refresh"), &why), std::optional<QString>(kToken));
        QVERIFY(why.isEmpty());
    }

    void hostileFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("complaint"); // in `why` when the missing key is read
        QTest::addColumn<bool>("readable");     // the good key can still be read
        const QByteArray head = "tessaly-secrets 1\n";
        const QByteArray good = line("smtp:refresh", kToken);
        QTest::newRow("garbage line") << head + "no tab here\n" + good << "line 2" << true;
        QTest::newRow("bad base64") << head + good + "account:x:refresh\t!!!*\n"
                                    << "line 3" << true;
        QTest::newRow("not UTF-8") << head + good + "account:\xff:refresh\tAA==\n"
                                   << "line 3" << true;
        QTest::newRow("second line for a key") << head + good + line("smtp:refresh", "other") << "line 3" << true;
        QTest::newRow("other format") << QByteArray("[secrets]\n") + good << "first line" << false;
        QTest::newRow("larger than 1 MiB") << head + good + QByteArray(1024 * 1024, 'x') << "1 MiB" << false;
    }
    void hostileFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, complaint);
        QFETCH(bool, readable);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("secrets"));
        putFile(path, bytes, 0600);
        FileSecretStore store(path);
        QString why;
        QVERIFY(!store.Read(QStringLiteral("account:missing:refresh"), &why));
        QVERIFY2(why.contains(complaint), qPrintable(why));
        why.clear();
        const auto good = store.Read(QStringLiteral("smtp:refresh"), &why);
        QCOMPARE(good.has_value(), readable);
        if (readable) {
            // A change keeps the good keys and drops the unreadable lines.
            QCOMPARE(*good, kToken);
            QVERIFY(store.Write(kKey, QStringLiteral("v"), &why));
            QCOMPARE(store.Read(QStringLiteral("smtp:refresh"), &why), std::optional<QString>(kToken));
            QVERIFY(!store.Read(QStringLiteral("account:missing:refresh"), &why) && why.isEmpty());
        } else {
            // A file that cannot be read as a whole is never overwritten.
            QVERIFY(!store.Write(kKey, QStringLiteral("v"), &why) && why.contains(complaint));
            QVERIFY(!store.Remove(QStringLiteral("smtp:refresh"), &why));
            QCOMPARE(contentsOf(path), bytes);
        }
    }

    void fileFailedWrites() {
        QTemporaryDir dir;
        // Its folder is a file: no write can succeed, even for root.
        const QString blocker = dir.filePath(QStringLiteral("blocker"));
        putFile(blocker, "x", 0600);
        FileSecretStore store(blocker + QStringLiteral("/secrets"));
        QString why;
        QVERIFY(!store.Write(kKey, kToken, &why));
        QVERIFY2(why.contains(blocker), qPrintable(why));
        QVERIFY(!why.contains(kToken));
        // A change that would be too large keeps the old file as it was.
        const QString path = dir.filePath(QStringLiteral("secrets"));
        FileSecretStore full(path);
        QVERIFY(full.Write(kKey, kToken, &why));
        const QByteArray before = contentsOf(path);
        QVERIFY(!full.Write(QStringLiteral("big"), QString(kMaxSecretValueBytes + 1, QLatin1Char('v')), &why));
        QCOMPARE(contentsOf(path), before);
    }

    void serviceRoundTrip() {
        START_RIG(rig);
        SecretServiceStore& store = *rig.store;
        QString why;
        QVERIFY(!store.Read(kKey, &why) && why.isEmpty());
        QVERIFY(store.Remove(kKey, &why));
        QVERIFY2(store.Write(kKey, kToken, &why), qPrintable(why));
        QVERIFY(store.Write(QStringLiteral("smtp:refresh"), QStringLiteral("other"), &why));
        QVERIFY2(store.Write(kKey, QStringLiteral("newer"), &why), qPrintable(why));
        QCOMPARE(rig.fake->items.size(), 2); // replaced, not doubled
        const auto stored = std::find_if(rig.fake->items.cbegin(), rig.fake->items.cend(),
                                         [](const auto& item) { return item.attributes.value("key") == kKey; });
        QVERIFY(stored != rig.fake->items.cend());
        QCOMPARE(stored->label, QStringLiteral("Tessaly: ") + kKey);
        QCOMPARE(stored->attributes,
                 (QMap<QString, QString>{{QStringLiteral("application"), QStringLiteral("tessaly")}, {"key", kKey}}));
        QCOMPARE(stored->secret, QByteArray("newer"));
        QCOMPARE(store.Read(kKey, &why), std::optional<QString>(QStringLiteral("newer")));
        QVERIFY(store.Remove(kKey, &why));
        QVERIFY(!store.Read(kKey, &why) && why.isEmpty());
        QCOMPARE(store.Read(QStringLiteral("smtp:refresh"), &why), std::optional<QString>(QStringLiteral("other")));
        QCOMPARE(rig.fake->promptsShown, 0);
        QVERIFY(SecretServiceStore::Available(rig.client));
        rig.fake.reset();
        QVERIFY(!SecretServiceStore::Available(rig.client));
    }

    void openPicksTheServiceWhenOneRuns() {
        START_RIG(rig);
        // Before anything here uses the session bus: the private bus stands in for it.
        qputenv("DBUS_SESSION_BUS_ADDRESS", rig.bus.address().toUtf8());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("secrets"));
        QCOMPARE(OpenSecretStore(*rig.pump, path)->Where(), QStringLiteral("the desktop's secret service"));
        rig.fake.reset();
        QCOMPARE(OpenSecretStore(*rig.pump, path)->Where(), path);
    }

    void serviceLocked_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("operation");
        const int accept = int(FakeSecretService::PromptAnswer::Accept);
        const int dismiss = int(FakeSecretService::PromptAnswer::Dismiss);
        for (const char* operation : {"read", "write", "remove"}) {
            QTest::addRow("%s, unlocked by the prompt", operation) << accept << QString::fromLatin1(operation);
            QTest::addRow("%s, prompt dismissed", operation) << dismiss << QString::fromLatin1(operation);
        }
    }
    void serviceLocked() {
        QFETCH(int, answer);
        QFETCH(QString, operation);
        START_RIG(rig);
        QString why;
        QVERIFY(rig.store->Write(kKey, QStringLiteral("old"), &why));
        rig.fake->locked = true;
        rig.fake->promptAnswer = FakeSecretService::PromptAnswer(answer);
        const bool accepted = rig.fake->promptAnswer == FakeSecretService::PromptAnswer::Accept;
        bool ok = false;
        if (operation == QLatin1String("read")) {
            const auto value = rig.store->Read(kKey, &why);
            ok = value.has_value();
            QCOMPARE(value.value_or(QStringLiteral("old")), QStringLiteral("old"));
        } else if (operation == QLatin1String("write")) {
            ok = rig.store->Write(kKey, kToken, &why);
            QCOMPARE(rig.fake->items.first().secret, accepted ? kToken.toUtf8() : QByteArray("old"));
        } else {
            ok = rig.store->Remove(kKey, &why);
            QCOMPARE(rig.fake->items.isEmpty(), accepted);
        }
        QCOMPARE(rig.fake->promptsShown, 1);
        QCOMPARE(ok, accepted);
        QCOMPARE(rig.fake->locked, !accepted);
        if (!accepted) {
            QVERIFY2(why.contains(QLatin1String("dismissed")), qPrintable(why));
            QVERIFY(!why.contains(kToken));
        }
    }

    void serviceDeadlines_data() {
        QTest::addColumn<QString>("neverAnswer");
        QTest::addColumn<bool>("promptNever");
        QTest::addColumn<bool>("write");
        QTest::addColumn<QString>("complaint");
        QTest::addColumn<double>("seconds");
        QTest::newRow("search") << "SearchItems" << false << false << "did not answer SearchItems within 10" << 10.0;
        QTest::newRow("create") << "CreateItem" << false << true << "did not answer CreateItem within 10" << 10.0;
        QTest::newRow("unlock prompt") << QString() << true << false << "no answer within 2 minutes" << 120.0;
    }
    void serviceDeadlines() {
        QFETCH(QString, neverAnswer);
        QFETCH(bool, promptNever);
        QFETCH(bool, write);
        QFETCH(QString, complaint);
        QFETCH(double, seconds);
        START_RIG(rig);
        QString why;
        QVERIFY(rig.store->Write(kKey, QStringLiteral("old"), &why));
        rig.fake->neverAnswer = neverAnswer;
        if (promptNever) {
            rig.fake->locked = true;
            rig.fake->promptAnswer = FakeSecretService::PromptAnswer::Never;
        }
        const bool ok = write ? rig.store->Write(kKey, kToken, &why) : rig.store->Read(kKey, &why).has_value();
        QVERIFY(!ok);
        QVERIFY2(why.contains(complaint), qPrintable(why));
        QCOMPARE(rig.pump->skippedSeconds(), seconds);
        if (promptNever) {
            // The prompt left behind is withdrawn.
            QTRY_VERIFY(rig.fake->calls.contains(QStringLiteral("Dismiss")));
        }
    }

    void serviceAnswersNonsense_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("operation");
        QTest::newRow("GetSecret") << "GetSecret"
                                   << "read";
        QTest::newRow("OpenSession") << "OpenSession"
                                     << "write";
        QTest::newRow("Delete") << "Delete"
                                << "remove";
    }
    void serviceAnswersNonsense() {
        QFETCH(QString, method);
        QFETCH(QString, operation);
        START_RIG(rig);
        QString why;
        QVERIFY(rig.store->Write(kKey, QStringLiteral("old"), &why));
        rig.fake->garble = method;
        const bool ok = operation == QLatin1String("read")    ? rig.store->Read(kKey, &why).has_value()
                        : operation == QLatin1String("write") ? rig.store->Write(kKey, kToken, &why)
                                                              : rig.store->Remove(kKey, &why);
        QVERIFY(!ok);
        QVERIFY2(why.contains(method) && why.contains(QLatin1String("something other than")), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TestSecretStore)
#include "test_secretstore.moc"
