#pragma once
// Where OAuth tokens and other secrets are kept: the desktop's secret
// service when one runs (see secretservice.h), otherwise one file that only
// its owner may read.

#include <QString>

#include <memory>
#include <optional>

namespace tessaly {

class EventPump;

class SecretStore {
public:
    virtual ~SecretStore() = default;
    // The value stored under `key`, std::nullopt when none; `why` set on failure (then also nullopt).
    virtual std::optional<QString> Read(const QString& key, QString* why) = 0;
    virtual bool Write(const QString& key, const QString& value, QString* why) = 0;
    virtual bool Remove(const QString& key, QString* why) = 0; // true also when nothing was stored
    // Where the values live, for the activity log: "the desktop's secret service" or the file path.
    virtual QString Where() const = 0;
};

// Keys are one line of printable text ("account:Work Mail:refresh"), at most
// kMaxSecretKeyChars long; values at most kMaxSecretValueBytes in UTF-8.
constexpr int kMaxSecretKeyChars = 256;
constexpr int kMaxSecretValueBytes = 64 * 1024;
// False (and `why`) for a key no store accepts.
bool CheckSecretKey(const QString& key, QString* why);
// False (and `why`) for a value too long to store.
bool CheckSecretValue(const QString& value, QString* why);

// The secret service when one is registered on the session bus, otherwise a
// FileSecretStore at `fallbackPath`.
std::unique_ptr<SecretStore> OpenSecretStore(EventPump& pump, const QString& fallbackPath);

// One file of lines `key<TAB>base64(UTF-8 value)` after a first line naming
// the format, replaced as a whole on every change and readable only by its
// owner. A file that others may read is not trusted until the next change
// rewrites it privately; lines that cannot be read are skipped (and dropped
// on the next change) without losing the other keys; a file larger than
// 1 MiB or of another format is neither read nor overwritten.
class FileSecretStore : public SecretStore {
public:
    explicit FileSecretStore(QString path);

    std::optional<QString> Read(const QString& key, QString* why) override;
    bool Write(const QString& key, const QString& value, QString* why) override;
    bool Remove(const QString& key, QString* why) override;
    QString Where() const override { return path_; }

    static constexpr qint64 kMaxFileBytes = 1024 * 1024;

private:
    struct Contents;
    bool load(Contents* contents, QString* why) const;
    bool save(const Contents& contents, QString* why) const;

    QString path_;
};

} // namespace tessaly
