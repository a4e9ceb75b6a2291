#pragma once
// A desktop keyring for tests: a message bus of the test's own (a
// dbus-daemon it starts), and on it a Secret Service that keeps its items
// in memory with one collection, "login", behind the alias "default". It
// answers only what SecretServiceStore asks, and can be told to stay locked
// until a prompt is answered, to have its prompt dismissed or never
// answered, to never answer one method, or to answer one with nonsense.

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusVirtualObject>
#include <QMap>
#include <QProcess>
#include <QStringList>

namespace tessaly {

// `dbus-daemon --session` started by the test and ended with this object.
class PrivateBus {
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // False (and why) when dbus-daemon is missing or does not start.
    bool start(QString* why);
    // A new connection to the bus, under a name of its own.
    QDBusConnection connect(const QString& name);
    QString address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

class FakeSecretService : public QDBusVirtualObject {
    Q_OBJECT
public:
    enum class PromptAnswer { Accept, Dismiss, Never };
    struct Item {
        QMap<QString, QString> attributes;
        QString label;
        QByteArray secret;
        QString contentType;
    };

    // Takes the service's name and object paths on `bus`.
    explicit FakeSecretService(QDBusConnection bus);
    ~FakeSecretService() override;
    bool registered() const { return registered_; }

    bool locked = false; // the collection; unlocking it takes a prompt
    PromptAnswer promptAnswer = PromptAnswer::Accept;
    QString neverAnswer; // a method that gets no reply
    QString garble;      // a method answered with a reply of the wrong shape

    QMap<QString, Item> items; // by object path
    QStringList calls;         // method names, in order
    int promptsShown = 0;
    // A call that will never be answered has come in; a prompt that will
    // never be answered has been shown.
    bool callStalled() const { return callStalled_; }
    bool promptStalled() const { return promptStalled_; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QDBusMessage answer(const QDBusMessage& message);
    void completePrompt(const QString& path);

    QDBusConnection bus_;
    bool registered_ = false;
    bool callStalled_ = false;
    bool promptStalled_ = false;
    int nextId_ = 1;
};

} // namespace tessaly
