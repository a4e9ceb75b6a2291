#pragma once
// The desktop's keyring (GNOME Keyring, KWallet, KeePassXC...) through the
// freedesktop Secret Service API 0.2 on the session bus. Every item carries
// the attributes {application: "tessaly", key: <key>} and the label
// "Tessaly: <key>", and lives in the default collection. Every call is
// asynchronous and waited for through the EventPump, so the windows keep
// working and a service that hangs fails after a deadline.

#include "platform/secretstore.h"

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusObjectPath>
#include <QList>
#include <QMetaType>
#include <QVariant>

class QDBusArgument;

namespace tessaly {

namespace secretservice {
// The Secret struct of the API, "(oayays)": the session it travels in, the
// algorithm's parameters (none for "plain"), the value and its content type.
struct Secret {
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};
QDBusArgument& operator<<(QDBusArgument& argument, const Secret& secret);
const QDBusArgument& operator>>(const QDBusArgument& argument, Secret& secret);
} // namespace secretservice

class SecretServiceStore : public SecretStore {
public:
    SecretServiceStore(EventPump& pump, QDBusConnection bus);

    // True when a secret service owns its name on `bus` (asks the bus, not the service).
    static bool Available(QDBusConnection bus);

    std::optional<QString> Read(const QString& key, QString* why) override;
    bool Write(const QString& key, const QString& value, QString* why) override;
    bool Remove(const QString& key, QString* why) override;
    QString Where() const override;

    // How long one call may take, and how long the user has to answer a
    // request to unlock the keyring.
    static constexpr double kCallSeconds = 10;
    static constexpr double kPromptSeconds = 120;

private:
    std::optional<QList<QVariant>> call(const QString& path, const QString& interface, const QString& method,
                                        const QList<QVariant>& arguments, const QString& signature, QString* why);
    bool search(const QString& key, QList<QDBusObjectPath>* unlocked, QList<QDBusObjectPath>* locked, QString* why);
    bool unlock(const QList<QDBusObjectPath>& objects, QString* why);
    bool defaultCollection(QDBusObjectPath* collection, QString* why);
    std::optional<QDBusObjectPath> openSession(QString* why);
    void closeSession(const QDBusObjectPath& session);
    // Shows the service's prompt and waits for the user. `result` is what the
    // prompt hands back (the unlocked objects, a created item...).
    bool runPrompt(const QDBusObjectPath& prompt, const QString& purpose, QVariant* result, QString* why);

    EventPump& pump_;
    QDBusConnection bus_;
};

} // namespace tessaly

Q_DECLARE_METATYPE(tessaly::secretservice::Secret)
