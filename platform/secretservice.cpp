#include "platform/secretservice.h"

#include "platform/eventpump.h"

#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusMetaType>
#include <QtDBus/QDBusPendingCall>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusVariant>
#include <QMap>
#include <QObject>
#include <QStringDecoder>

namespace tessaly {
namespace secretservice {

QDBusArgument& operator<<(QDBusArgument& argument, const Secret& secret) {
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Secret& secret) {
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

// What a prompt's Completed signal brought.
class PromptWatch : public QObject {
    Q_OBJECT
public:
    bool done = false;
    bool dismissed = false;
    bool malformed = false;
    QVariant result;

public slots:
    void completed(const QDBusMessage& message) {
        if (done)
            return;
        done = true;
        const QList<QVariant> arguments = message.arguments();
        if (message.signature() != QLatin1String("bv")) {
            malformed = true;
            return;
        }
        dismissed = arguments.at(0).toBool();
        result = arguments.at(1).value<QDBusVariant>().variant();
    }
};

} // namespace secretservice
} // namespace tessaly

namespace tessaly {

namespace {

using secretservice::Secret;
using Attributes = QMap<QString, QString>;

const QString kService = QStringLiteral("org.freedesktop.secrets");
const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString kServiceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString kCollectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");
const QString kItemInterface = QStringLiteral("org.freedesktop.Secret.Item");
const QString kSessionInterface = QStringLiteral("org.freedesktop.Secret.Session");
const QString kPromptInterface = QStringLiteral("org.freedesktop.Secret.Prompt");
const QString kNoObject = QStringLiteral("/"); // "no prompt needed", "no such collection"
const QString kWhere = QStringLiteral("the desktop's secret service");

void registerTypes() {
    static const bool once = [] {
        qDBusRegisterMetaType<Secret>();
        qDBusRegisterMetaType<Attributes>();
        qDBusRegisterMetaType<QList<QDBusObjectPath>>();
        return true;
    }();
    (void)once;
}

Attributes attributesFor(const QString& key) {
    return {{QStringLiteral("application"), QStringLiteral("tessaly")}, {QStringLiteral("key"), key}};
}

// A text from the service, fit for the activity log: one line, not endless.
QString brief(QString text) {
    constexpr int kLongest = 200;
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    }
    text = text.simplified();
    return text.size() > kLongest ? text.left(kLongest) + QStringLiteral("...") : text;
}

bool fail(QString* why, const QString& text) {
    if (why)
        *why = text;
    return false;
}

} // namespace

SecretServiceStore::SecretServiceStore(EventPump& pump, QDBusConnection bus) : pump_(pump), bus_(std::move(bus)) {
    registerTypes();
}

bool SecretServiceStore::Available(QDBusConnection bus) {
    if (!bus.isConnected())
        return false;
    // The bus itself answers this one; a short blocking call at start-up.
    QDBusMessage ask =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << kService;
    const QDBusMessage reply = bus.call(ask, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QLatin1String("b") &&
           reply.arguments().at(0).toBool();
}

QString SecretServiceStore::Where() const { return kWhere; }

std::optional<QList<QVariant>> SecretServiceStore::call(const QString& path, const QString& interface,
                                                        const QString& method, const QList<QVariant>& arguments,
                                                        const QString& signature, QString* why) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    // Qt's own time-out comes a little after ours, so that ours is what is reported.
    QDBusPendingCall pending = bus_.asyncCall(message, int(kCallSeconds * 1000) + 5000);
    QDBusPendingCallWatcher watcher(pending);
    bool finished = false;
    // The watcher's signal is an event in this thread: it wakes the waiting pump.
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &watcher, [&finished] { finished = true; });
    if (!pump_.waitUntil([&] { return finished || pending.isFinished(); }, kCallSeconds, nullptr)) {
        fail(why, QStringLiteral("%1 did not answer %2 within %3 seconds").arg(kWhere, method).arg(kCallSeconds));
        return std::nullopt;
    }
    const QDBusMessage reply = pending.reply();
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString text = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        fail(why, QStringLiteral("%1 refused %2: %3").arg(kWhere, method, brief(text)));
        return std::nullopt;
    }
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != signature) {
        fail(why, QStringLiteral("%1 answered %2 with something other than the API's reply (\"%3\")")
                      .arg(kWhere, method, brief(reply.signature())));
        return std::nullopt;
    }
    return reply.arguments();
}

std::optional<QDBusObjectPath> SecretServiceStore::openSession(QString* why) {
    // "plain" hands the secret over unencrypted. The session bus belongs to
    // this user alone, and the encrypted variant would only guard against
    // someone who can already read this user's memory.
    const auto reply =
        call(kServicePath, kServiceInterface, QStringLiteral("OpenSession"),
             {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))}, QStringLiteral("vo"), why);
    if (!reply)
        return std::nullopt;
    return reply->at(1).value<QDBusObjectPath>();
}

void SecretServiceStore::closeSession(const QDBusObjectPath& session) {
    // Nothing waits for this: the service also closes it when we leave the bus.
    bus_.asyncCall(
        QDBusMessage::createMethodCall(kService, session.path(), kSessionInterface, QStringLiteral("Close")));
}

bool SecretServiceStore::search(const QString& key, QList<QDBusObjectPath>* unlocked, QList<QDBusObjectPath>* locked,
                                QString* why) {
    const auto reply = call(kServicePath, kServiceInterface, QStringLiteral("SearchItems"),
                            {QVariant::fromValue(attributesFor(key))}, QStringLiteral("aoao"), why);
    if (!reply)
        return false;
    *unlocked = qdbus_cast<QList<QDBusObjectPath>>(reply->at(0));
    *locked = qdbus_cast<QList<QDBusObjectPath>>(reply->at(1));
    return true;
}

bool SecretServiceStore::runPrompt(const QDBusObjectPath& prompt, const QString& purpose, QVariant* result,
                                   QString* why) {
    secretservice::PromptWatch watch;
    // Listening starts before the prompt is shown, so a quick answer is not missed.
    if (!bus_.connect(kService, prompt.path(), kPromptInterface, QStringLiteral("Completed"), &watch,
                      SLOT(completed(QDBusMessage))))
        return fail(why, QStringLiteral("%1 asks to %2, but its answer cannot be followed: %3")
                             .arg(kWhere, purpose, brief(bus_.lastError().message())));
    const auto stopListening = [&] {
        bus_.disconnect(kService, prompt.path(), kPromptInterface, QStringLiteral("Completed"), &watch,
                        SLOT(completed(QDBusMessage)));
    };
    // No window of ours to place the prompt over: the empty window id.
    if (!call(prompt.path(), kPromptInterface, QStringLiteral("Prompt"), {QString()}, QString(), why)) {
        stopListening();
        return false;
    }
    const bool answered = pump_.waitUntil([&] { return watch.done; }, kPromptSeconds, nullptr);
    stopListening();
    if (!answered) {
        bus_.asyncCall(
            QDBusMessage::createMethodCall(kService, prompt.path(), kPromptInterface, QStringLiteral("Dismiss")));
        return fail(why, QStringLiteral("%1 asked to %2 and had no answer within %3 minutes")
                             .arg(kWhere, purpose)
                             .arg(kPromptSeconds / 60));
    }
    if (watch.malformed)
        return fail(why, QStringLiteral("%1 asked to %2 and ended the prompt with something other than the API's "
                                        "answer")
                             .arg(kWhere, purpose));
    if (watch.dismissed)
        return fail(why, QStringLiteral("%1 asked to %2, and the request was dismissed").arg(kWhere, purpose));
    if (result)
        *result = watch.result;
    return true;
}

bool SecretServiceStore::unlock(const QList<QDBusObjectPath>& objects, QString* why) {
    const auto reply = call(kServicePath, kServiceInterface, QStringLiteral("Unlock"), {QVariant::fromValue(objects)},
                            QStringLiteral("aoo"), why);
    if (!reply)
        return false;
    const QDBusObjectPath prompt = reply->at(1).value<QDBusObjectPath>();
    if (prompt.path() == kNoObject)
        return true;
    // Whatever is still locked after a completed prompt shows up as a refused call.
    return runPrompt(prompt, QStringLiteral("unlock the keyring"), nullptr, why);
}

bool SecretServiceStore::defaultCollection(QDBusObjectPath* collection, QString* why) {
    const auto reply = call(kServicePath, kServiceInterface, QStringLiteral("ReadAlias"), {QStringLiteral("default")},
                            QStringLiteral("o"), why);
    if (!reply)
        return false;
    *collection = reply->at(0).value<QDBusObjectPath>();
    if (collection->path() != kNoObject)
        return true;
    // No default keyring yet: one is made (the service asks the user for its password).
    const QVariantMap properties{
        {QStringLiteral("org.freedesktop.Secret.Collection.Label"), QStringLiteral("Default keyring")}};
    const auto made = call(kServicePath, kServiceInterface, QStringLiteral("CreateCollection"),
                           {properties, QStringLiteral("default")}, QStringLiteral("oo"), why);
    if (!made)
        return false;
    *collection = made->at(0).value<QDBusObjectPath>();
    const QDBusObjectPath prompt = made->at(1).value<QDBusObjectPath>();
    if (collection->path() == kNoObject && prompt.path() != kNoObject) {
        QVariant result;
        if (!runPrompt(prompt, QStringLiteral("create a keyring"), &result, why))
            return false;
        *collection = result.value<QDBusObjectPath>();
    }
    if (collection->path().isEmpty() || collection->path() == kNoObject)
        return fail(why, QStringLiteral("%1 has no default keyring and made none").arg(kWhere));
    return true;
}

std::optional<QString> SecretServiceStore::Read(const QString& key, QString* why) {
    QList<QDBusObjectPath> unlocked;
    QList<QDBusObjectPath> locked;
    if (!CheckSecretKey(key, why) || !search(key, &unlocked, &locked, why))
        return std::nullopt;
    if (unlocked.isEmpty() && locked.isEmpty())
        return std::nullopt;
    if (unlocked.isEmpty()) {
        if (!unlock(locked, why))
            return std::nullopt;
        unlocked = locked;
    }
    const auto session = openSession(why);
    if (!session)
        return std::nullopt;
    const auto reply = call(unlocked.first().path(), kItemInterface, QStringLiteral("GetSecret"),
                            {QVariant::fromValue(*session)}, QStringLiteral("(oayays)"), why);
    closeSession(*session);
    if (!reply)
        return std::nullopt;
    const Secret secret = qdbus_cast<Secret>(reply->at(0));
    if (secret.value.size() > kMaxSecretValueBytes) {
        fail(why, QStringLiteral("%1 handed over %2 bytes for %3, more than a secret of ours takes")
                      .arg(kWhere)
                      .arg(secret.value.size())
                      .arg(key));
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString value = decoder(secret.value);
    if (decoder.hasError()) {
        fail(why, QStringLiteral("%1 holds something other than text for %2").arg(kWhere, key));
        return std::nullopt;
    }
    return value;
}

bool SecretServiceStore::Write(const QString& key, const QString& value, QString* why) {
    QDBusObjectPath collection;
    if (!CheckSecretKey(key, why) || !CheckSecretValue(value, why) || !defaultCollection(&collection, why) ||
        !unlock({collection}, why))
        return false;
    const auto session = openSession(why);
    if (!session)
        return false;
    const QVariantMap properties{
        {QStringLiteral("org.freedesktop.Secret.Item.Label"), QStringLiteral("Tessaly: ") + key},
        {QStringLiteral("org.freedesktop.Secret.Item.Attributes"), QVariant::fromValue(attributesFor(key))}};
    const Secret secret{*session, QByteArray(), value.toUtf8(), QStringLiteral("text/plain; charset=utf8")};
    // replace = true: an item with the same attributes is updated, not doubled.
    const auto reply = call(collection.path(), kCollectionInterface, QStringLiteral("CreateItem"),
                            {properties, QVariant::fromValue(secret), true}, QStringLiteral("oo"), why);
    bool ok = reply.has_value();
    if (ok) {
        const QDBusObjectPath item = reply->at(0).value<QDBusObjectPath>();
        const QDBusObjectPath prompt = reply->at(1).value<QDBusObjectPath>();
        if (item.path() == kNoObject && prompt.path() != kNoObject)
            ok = runPrompt(prompt, QStringLiteral("store ") + key, nullptr, why);
    }
    closeSession(*session);
    return ok;
}

bool SecretServiceStore::Remove(const QString& key, QString* why) {
    QList<QDBusObjectPath> unlocked;
    QList<QDBusObjectPath> locked;
    if (!CheckSecretKey(key, why) || !search(key, &unlocked, &locked, why))
        return false;
    if (!locked.isEmpty() && !unlock(locked, why))
        return false;
    for (const QDBusObjectPath& item : unlocked + locked) {
        const auto reply = call(item.path(), kItemInterface, QStringLiteral("Delete"), {}, QStringLiteral("o"), why);
        if (!reply)
            return false;
        const QDBusObjectPath prompt = reply->at(0).value<QDBusObjectPath>();
        if (prompt.path() != kNoObject && !runPrompt(prompt, QStringLiteral("delete ") + key, nullptr, why))
            return false;
    }
    return true;
}

} // namespace tessaly

#include "secretservice.moc"
