#include "platform/secretstore.h"

#include "ground/atomicfile.h"
#include "platform/secretservice.h"

#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tessaly {

namespace {

const QByteArray kHeader = QByteArrayLiteral("tessaly-secrets 1");

std::optional<QString> strictUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString systemError(const QString& what, const QString& path, int errnum) {
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errnum)));
}

} // namespace

bool CheckSecretKey(const QString& key, QString* why) {
    QString problem;
    if (key.isEmpty())
        problem = QStringLiteral("a secret needs a name");
    else if (key.size() > kMaxSecretKeyChars)
        problem = QStringLiteral("the name of a secret may be at most %1 characters long").arg(kMaxSecretKeyChars);
    else {
        for (const QChar c : key) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
                problem = QStringLiteral("the name of a secret may not hold tabs, line breaks or other control "
                                         "characters");
                break;
            }
        }
        if (problem.isEmpty() && QString::fromUtf8(key.toUtf8()) != key)
            problem = QStringLiteral("the name of a secret is not valid Unicode text");
    }
    if (problem.isEmpty())
        return true;
    if (why)
        *why = problem;
    return false;
}

bool CheckSecretValue(const QString& value, QString* why) {
    if (value.toUtf8().size() <= kMaxSecretValueBytes)
        return true;
    if (why)
        *why = QStringLiteral("a secret may be at most %1 KiB long").arg(kMaxSecretValueBytes / 1024);
    return false;
}

std::unique_ptr<SecretStore> OpenSecretStore(EventPump& pump, const QString& fallbackPath) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && SecretServiceStore::Available(bus))
        return std::make_unique<SecretServiceStore>(pump, bus);
    return std::make_unique<FileSecretStore>(fallbackPath);
}

// ---------------------------------------------------------------- the file

struct FileSecretStore::Contents {
    bool notPrivate = false; // group or others may read or write it
    bool foreignOwner = false;
    std::vector<std::pair<QString, QString>> entries; // in the file's order
    QStringList badLines;                             // their numbers, from 1
};

FileSecretStore::FileSecretStore(QString path) : path_(std::move(path)) {}

bool FileSecretStore::load(Contents* contents, QString* why) const {
    const auto fail = [&](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    const QByteArray name = QFile::encodeName(path_);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return true; // nothing stored yet
        return fail(systemError(QStringLiteral("Cannot read"), path_, errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int errnum = errno;
        ::close(fd);
        return fail(systemError(QStringLiteral("Cannot read"), path_, errnum));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(QStringLiteral("%1 is not a regular file; the secrets in it were not read").arg(path_));
    }
    const QString tooLarge =
        QStringLiteral("%1 is larger than 1 MiB, far more than secrets take; it was neither read nor replaced")
            .arg(path_);
    if (st.st_size > kMaxFileBytes) {
        ::close(fd);
        return fail(tooLarge);
    }
    contents->notPrivate = (st.st_mode & 077) != 0;
    contents->foreignOwner = st.st_uid != ::geteuid();

    // The file may grow between the look and the reading: one byte more than
    // the limit is enough to tell.
    QByteArray bytes(kMaxFileBytes + 1, Qt::Uninitialized);
    qint64 got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int errnum = errno;
            ::close(fd);
            return fail(systemError(QStringLiteral("Cannot read"), path_, errnum));
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got > kMaxFileBytes)
        return fail(tooLarge);
    bytes.truncate(got);
    if (bytes.isEmpty())
        return true; // an empty file holds nothing

    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.first() != kHeader)
        return fail(QStringLiteral("%1 is not a file of Tessaly's secrets (its first line is not \"%2\"); it was "
                                   "neither read nor replaced")
                        .arg(path_, QString::fromLatin1(kHeader)));
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        if (line.isEmpty())
            continue;
        const qsizetype tab = line.indexOf('\t');
        std::optional<QString> key;
        std::optional<QString> value;
        if (tab > 0) {
            key = strictUtf8(line.left(tab));
            const auto decoded =
                QByteArray::fromBase64Encoding(line.mid(tab + 1), QByteArray::AbortOnBase64DecodingErrors);
            if (decoded)
                value = strictUtf8(*decoded);
        }
        bool good = key && value && CheckSecretKey(*key, nullptr);
        for (const auto& entry : contents->entries)
            good = good && entry.first != *key; // a second line for a key is not trusted either
        if (good)
            contents->entries.emplace_back(*key, *value);
        else
            contents->badLines << QString::number(i + 1);
    }
    return true;
}

bool FileSecretStore::save(const Contents& contents, QString* why) const {
    QByteArray bytes = kHeader + '\n';
    for (const auto& [key, value] : contents.entries)
        bytes += key.toUtf8() + '\t' + value.toUtf8().toBase64() + '\n';
    if (bytes.size() > kMaxFileBytes) {
        if (why)
            *why = QStringLiteral("%1 would grow beyond 1 MiB; the secret was not stored").arg(path_);
        return false;
    }
    return AtomicFile::Write(path_, bytes, AtomicFile::Access::Private, why);
}

std::optional<QString> FileSecretStore::Read(const QString& key, QString* why) {
    Contents contents;
    if (!CheckSecretKey(key, why) || !load(&contents, why))
        return std::nullopt;
    // A secret others could read (or put there) is not used; the next change
    // rewrites the file as the user's own, readable by nobody else.
    const auto fail = [&](const QString& text) {
        if (why)
            *why = text;
        return std::nullopt;
    };
    if (contents.foreignOwner)
        return fail(QStringLiteral("%1 belongs to another user; its secrets were not used").arg(path_));
    if (contents.notPrivate)
        return fail(QStringLiteral("%1 can be read or changed by other users; its secrets were not used until it is "
                                   "saved again, readable only by you")
                        .arg(path_));
    for (const auto& entry : contents.entries) {
        if (entry.first == key)
            return entry.second;
    }
    if (!contents.badLines.isEmpty())
        return fail(QStringLiteral("%1: line %2 could not be read and was skipped")
                        .arg(path_, contents.badLines.join(QStringLiteral(", "))));
    return std::nullopt;
}

bool FileSecretStore::Write(const QString& key, const QString& value, QString* why) {
    Contents contents;
    if (!CheckSecretKey(key, why) || !CheckSecretValue(value, why) || !load(&contents, why))
        return false;
    bool replaced = false;
    for (auto& entry : contents.entries) {
        if (entry.first == key) {
            entry.second = value;
            replaced = true;
        }
    }
    if (!replaced)
        contents.entries.emplace_back(key, value);
    return save(contents, why);
}

bool FileSecretStore::Remove(const QString& key, QString* why) {
    Contents contents;
    if (!CheckSecretKey(key, why) || !load(&contents, why))
        return false;
    const auto before = contents.entries.size();
    std::erase_if(contents.entries, [&](const auto& entry) { return entry.first == key; });
    if (contents.entries.size() == before)
        return true;
    return save(contents, why);
}

} // namespace tessaly
