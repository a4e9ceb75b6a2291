#include "tests/fakes/fakesecretservice.h"

#include "platform/secretservice.h"

#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusMetaType>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusVariant>
#include <QStandardPaths>

namespace tessaly::fakesecrets {
// The service hands a secret out in the struct the store reads.
using Secret = secretservice::Secret;
} // namespace tessaly::fakesecrets

namespace tessaly {

namespace {
const QString kName = QStringLiteral("org.freedesktop.secrets");
const QString kRoot = QStringLiteral("/org/freedesktop/secrets");
const QString kCollection = QStringLiteral("/org/freedesktop/secrets/collection/login");
const QString kNone = QStringLiteral("/");

QVariant path(const QString& p) { return QVariant::fromValue(QDBusObjectPath(p)); }
QVariant paths(const QList<QDBusObjectPath>& list) { return QVariant::fromValue(list); }
} // namespace

// ---------------------------------------------------------------- the bus

PrivateBus::~PrivateBus() {
    for (const QString& name : names_)
        QDBusConnection::disconnectFromBus(name);
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000)) {
            daemon_.kill();
            daemon_.waitForFinished(5000);
        }
    }
}

bool PrivateBus::start(QString* why) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty()) {
        *why = QStringLiteral("dbus-daemon is not installed (Debian package dbus-daemon)");
        return false;
    }
    daemon_.setProgram(program);
    daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--print-address"), QStringLiteral("--nofork")});
    daemon_.setProcessChannelMode(QProcess::SeparateChannels);
    daemon_.start();
    if (!daemon_.waitForStarted(10000)) {
        *why = QStringLiteral("dbus-daemon did not start: ") + daemon_.errorString();
        return false;
    }
    // The address is its first line of output.
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(10000)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    if (address_.isEmpty()) {
        *why = QStringLiteral("dbus-daemon printed no address: ") + QString::fromUtf8(daemon_.readAllStandardError());
        return false;
    }
    return true;
}

QDBusConnection PrivateBus::connect(const QString& name) {
    names_ << name;
    return QDBusConnection::connectToBus(address_, name);
}

// ---------------------------------------------------------------- the service

FakeSecretService::FakeSecretService(QDBusConnection bus) : bus_(std::move(bus)) {
    qDBusRegisterMetaType<fakesecrets::Secret>();
    qDBusRegisterMetaType<QList<QDBusObjectPath>>();
    registered_ = bus_.registerVirtualObject(kRoot, this, QDBusConnection::SubPath) && bus_.registerService(kName);
}

FakeSecretService::~FakeSecretService() {
    bus_.unregisterService(kName);
    bus_.unregisterObject(kRoot, QDBusConnection::UnregisterTree);
}

QString FakeSecretService::introspect(const QString&) const { return {}; }

bool FakeSecretService::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString method = message.member();
    calls << method;
    if (method == neverAnswer) {
        callStalled_ = true;
        return true;
    }
    if (method == garble) {
        connection.send(message.createReply(QStringLiteral("nonsense")));
        return true;
    }
    connection.send(answer(message));
    if (method == QLatin1String("Prompt"))
        completePrompt(message.path());
    return true;
}

QDBusMessage FakeSecretService::answer(const QDBusMessage& message) {
    const QString method = message.member();
    const QString at = message.path();
    const QList<QVariant> in = message.arguments();
    const auto isLocked = [&] {
        return message.createErrorReply(QStringLiteral("org.freedesktop.Secret.Error.IsLocked"),
                                        QStringLiteral("The collection is locked"));
    };
    if (method == QLatin1String("OpenSession")) {
        if (in.value(0).toString() != QLatin1String("plain"))
            return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.NotSupported"),
                                            QStringLiteral("Only plain here"));
        return message.createReply({QVariant::fromValue(QDBusVariant(QString())),
                                    path(kRoot + QStringLiteral("/session/s%1").arg(nextId_++))});
    }
    if (method == QLatin1String("ReadAlias"))
        return message.createReply(path(in.value(0).toString() == QLatin1String("default") ? kCollection : kNone));
    if (method == QLatin1String("SearchItems")) {
        const auto wanted = qdbus_cast<QMap<QString, QString>>(in.value(0));
        QList<QDBusObjectPath> found;
        for (auto it = items.cbegin(); it != items.cend(); ++it) {
            bool all = true;
            for (auto w = wanted.cbegin(); w != wanted.cend(); ++w)
                all = all && it->attributes.value(w.key()) == w.value();
            if (all)
                found << QDBusObjectPath(it.key());
        }
        return message.createReply(
            {paths(locked ? QList<QDBusObjectPath>() : found), paths(locked ? found : QList<QDBusObjectPath>())});
    }
    if (method == QLatin1String("Unlock")) {
        const auto objects = qdbus_cast<QList<QDBusObjectPath>>(in.value(0));
        if (!locked)
            return message.createReply({paths(objects), path(kNone)});
        return message.createReply({paths({}), path(kRoot + QStringLiteral("/prompt/p%1").arg(nextId_++))});
    }
    if (method == QLatin1String("CreateItem") && at == kCollection) {
        if (locked)
            return isLocked();
        const auto properties = qdbus_cast<QVariantMap>(in.value(0));
        Item item;
        item.label = properties.value(QStringLiteral("org.freedesktop.Secret.Item.Label")).toString();
        item.attributes = qdbus_cast<QMap<QString, QString>>(
            properties.value(QStringLiteral("org.freedesktop.Secret.Item.Attributes")));
        const auto secret = qdbus_cast<fakesecrets::Secret>(in.value(1));
        item.secret = secret.value;
        item.contentType = secret.contentType;
        QString where;
        for (auto it = items.cbegin(); it != items.cend() && in.value(2).toBool(); ++it) {
            if (it->attributes == item.attributes)
                where = it.key();
        }
        if (where.isEmpty())
            where = kCollection + QStringLiteral("/i%1").arg(nextId_++);
        items[where] = item;
        return message.createReply({path(where), path(kNone)});
    }
    if (method == QLatin1String("GetSecret") || method == QLatin1String("Delete")) {
        if (!items.contains(at))
            return message.createErrorReply(QStringLiteral("org.freedesktop.Secret.Error.NoSuchObject"), at);
        if (locked)
            return isLocked();
        if (method == QLatin1String("Delete")) {
            items.remove(at);
            return message.createReply(path(kNone));
        }
        const fakesecrets::Secret secret{
            qdbus_cast<QDBusObjectPath>(in.value(0)), {}, items[at].secret, items[at].contentType};
        return message.createReply(QVariant::fromValue(secret));
    }
    if (method == QLatin1String("Prompt")) {
        ++promptsShown;
        return message.createReply();
    }
    if (method == QLatin1String("Close") || method == QLatin1String("Dismiss"))
        return message.createReply();
    return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), method);
}

void FakeSecretService::completePrompt(const QString& at) {
    if (promptAnswer == PromptAnswer::Never) {
        promptStalled_ = true;
        return;
    }
    QDBusMessage completed =
        QDBusMessage::createSignal(at, QStringLiteral("org.freedesktop.Secret.Prompt"), QStringLiteral("Completed"));
    if (promptAnswer == PromptAnswer::Accept) {
        locked = false;
        completed << false << QVariant::fromValue(QDBusVariant(paths({QDBusObjectPath(kCollection)})));
    } else {
        completed << true << QVariant::fromValue(QDBusVariant(QString()));
    }
    bus_.send(completed);
}

} // namespace tessaly
