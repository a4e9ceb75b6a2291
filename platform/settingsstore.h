#pragma once
// The per-user settings store: text values by application name, section and
// value name. Names are compared without regard to letter case.

#include <QString>
#include <QStringList>
#include <functional>
#include <map>

namespace tessaly {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString read(const QString& app, const QString& section, const QString& name,
                         const QString& defaultValue) const = 0;
    virtual bool contains(const QString& app, const QString& section, const QString& name) const = 0;
    virtual void write(const QString& app, const QString& section, const QString& name, const QString& value) = 0;
    // True when any value is stored under app/section.
    virtual bool hasSection(const QString& app, const QString& section) const = 0;
    // The names stored under app/section, as first written.
    virtual QStringList names(const QString& app, const QString& section) const = 0;
    virtual void remove(const QString& app, const QString& section, const QString& name) = 0;
    // Why the last write or removal did not reach the disk; empty when it did
    // (and for a store that keeps nothing on disk).
    virtual QString lastFailure() const { return {}; }
};

// The values of all applications and sections, with case-insensitive names
// and the spelling of the first write kept for display.
class SettingsTable {
public:
    struct Value {
        QString name;
        QString text;
    };
    struct Section {
        QString name;                    // "app/section"
        std::map<QString, Value> values; // key: lower-case value name, ordered for stable files
    };

    const Value* find(const QString& app, const QString& section, const QString& name) const;
    void set(const QString& app, const QString& section, const QString& name, const QString& value);
    bool hasSection(const QString& app, const QString& section) const;
    QStringList names(const QString& app, const QString& section) const;
    void remove(const QString& app, const QString& section, const QString& name);

    // INI text: "[app/section]" headers and "name=value" lines; backslash,
    // CR and LF in values are escaped. Unreadable lines are skipped.
    QByteArray toIni() const;
    static SettingsTable fromIni(const QByteArray& text);

private:
    static QString sectionKey(const QString& app, const QString& section);
    std::map<QString, Section> sections_;
};

// Settings kept in memory only (tests, and runs that must not touch the disk).
class MemorySettingsStore : public SettingsStore {
public:
    QString read(const QString& app, const QString& section, const QString& name,
                 const QString& defaultValue) const override;
    bool contains(const QString& app, const QString& section, const QString& name) const override;
    void write(const QString& app, const QString& section, const QString& name, const QString& value) override;
    bool hasSection(const QString& app, const QString& section) const override;
    QStringList names(const QString& app, const QString& section) const override;
    void remove(const QString& app, const QString& section, const QString& name) override;

protected:
    SettingsTable table_;
};

// One INI file per user, rewritten atomically (temporary file, then rename)
// on every write so a crash never leaves half a file.
class IniSettingsStore : public MemorySettingsStore {
public:
    explicit IniSettingsStore(QString filePath);
    // $XDG_CONFIG_HOME/tessaly/tessaly.ini ($HOME/.config when unset).
    static QString defaultFilePath();
    QString filePath() const { return path_; }
    void write(const QString& app, const QString& section, const QString& name, const QString& value) override;
    void remove(const QString& app, const QString& section, const QString& name) override;
    // False when the last write could not be saved; the value stays in memory.
    bool lastWriteOk() const { return lastWriteOk_; }
    // Why the last write failed.
    QString lastWriteError() const { return lastWriteError_; }
    QString lastFailure() const override { return lastWriteOk_ ? QString() : lastWriteError_; }
    // Told of every write that failed, with the reason.
    void setFailureSink(std::function<void(const QString&)> sink) { failureSink_ = std::move(sink); }
    // Writes change the values in memory only; the file stays as it is.
    void setReadOnly(bool on) { readOnly_ = on; }

private:
    void save();
    QString path_;
    bool readOnly_ = false;
    bool lastWriteOk_ = true;
    QString lastWriteError_;
    std::function<void(const QString&)> failureSink_;
};

} // namespace tessaly
