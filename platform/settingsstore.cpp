#include "platform/settingsstore.h"

#include "ground/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace tessaly {

QString SettingsTable::sectionKey(const QString& app, const QString& section) {
    return (app + QLatin1Char('/') + section).toLower();
}

const SettingsTable::Value* SettingsTable::find(const QString& app, const QString& section, const QString& name) const {
    auto s = sections_.find(sectionKey(app, section));
    if (s == sections_.end())
        return nullptr;
    auto v = s->second.values.find(name.toLower());
    return v == s->second.values.end() ? nullptr : &v->second;
}

void SettingsTable::set(const QString& app, const QString& section, const QString& name, const QString& value) {
    Section& s = sections_[sectionKey(app, section)];
    if (s.name.isEmpty())
        s.name = app + QLatin1Char('/') + section;
    Value& v = s.values[name.toLower()];
    if (v.name.isEmpty())
        v.name = name;
    v.text = value;
}

bool SettingsTable::hasSection(const QString& app, const QString& section) const {
    auto s = sections_.find(sectionKey(app, section));
    return s != sections_.end() && !s->second.values.empty();
}

QStringList SettingsTable::names(const QString& app, const QString& section) const {
    QStringList out;
    if (auto s = sections_.find(sectionKey(app, section)); s != sections_.end())
        for (const auto& [key, value] : s->second.values)
            out << value.name;
    return out;
}

void SettingsTable::remove(const QString& app, const QString& section, const QString& name) {
    if (auto s = sections_.find(sectionKey(app, section)); s != sections_.end())
        s->second.values.erase(name.toLower());
}

namespace {

QString escape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else
            out += c;
    }
    return out;
}

// A name that would read as a section header or a comment gets a backslash
// in front; reading drops it again.
QString escapeName(const QString& name) {
    const QString out = escape(name);
    if (!out.isEmpty() && (out[0] == QLatin1Char('[') || out[0] == QLatin1Char(';') || out[0] == QLatin1Char('#')))
        return QLatin1Char('\\') + out;
    return out;
}

QString unescape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar n = text[++i];
            out += n == QLatin1Char('r') ? QChar('\r') : n == QLatin1Char('n') ? QChar('\n') : n;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QByteArray SettingsTable::toIni() const {
    QString out;
    for (const auto& [key, section] : sections_) {
        if (section.values.empty())
            continue;
        out += QLatin1Char('[') + section.name + QLatin1String("]\n");
        for (const auto& [lower, value] : section.values)
            out += escapeName(value.name) + QLatin1Char('=') + escape(value.text) + QLatin1Char('\n');
        out += QLatin1Char('\n');
    }
    return out.toUtf8();
}

SettingsTable SettingsTable::fromIni(const QByteArray& text) {
    SettingsTable table;
    QString app, section;
    bool inSection = false;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const QString header = line.mid(1, line.size() - 2);
            const qsizetype slash = header.lastIndexOf(QLatin1Char('/'));
            inSection = slash > 0;
            if (inSection) {
                app = header.left(slash);
                section = header.mid(slash + 1);
            }
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inSection || eq <= 0)
            continue;
        // A name written by hand may have blanks around it ("Work = TLS").
        table.set(app, section, unescape(line.left(eq).trimmed()), unescape(line.mid(eq + 1)));
    }
    return table;
}

QString MemorySettingsStore::read(const QString& app, const QString& section, const QString& name,
                                  const QString& defaultValue) const {
    const auto* v = table_.find(app, section, name);
    return v ? v->text : defaultValue;
}

bool MemorySettingsStore::contains(const QString& app, const QString& section, const QString& name) const {
    return table_.find(app, section, name) != nullptr;
}

void MemorySettingsStore::write(const QString& app, const QString& section, const QString& name, const QString& value) {
    table_.set(app, section, name, value);
}

bool MemorySettingsStore::hasSection(const QString& app, const QString& section) const {
    return table_.hasSection(app, section);
}

QStringList MemorySettingsStore::names(const QString& app, const QString& section) const {
    return table_.names(app, section);
}

void MemorySettingsStore::remove(const QString& app, const QString& section, const QString& name) {
    table_.remove(app, section, name);
}

IniSettingsStore::IniSettingsStore(QString filePath) : path_(std::move(filePath)) {
    QFile f(path_);
    if (f.open(QIODevice::ReadOnly))
        table_ = SettingsTable::fromIni(f.readAll());
}

QString IniSettingsStore::defaultFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QLatin1String("/.config");
    return base + QLatin1String("/tessaly/tessaly.ini");
}

void IniSettingsStore::write(const QString& app, const QString& section, const QString& name, const QString& value) {
    MemorySettingsStore::write(app, section, name, value);
    save();
}

void IniSettingsStore::remove(const QString& app, const QString& section, const QString& name) {
    if (!contains(app, section, name))
        return;
    MemorySettingsStore::remove(app, section, name);
    save();
}

void IniSettingsStore::save() {
    if (readOnly_)
        return;
    QDir().mkpath(QFileInfo(path_).absolutePath());
    // The file may hold mail passwords: only its owner reads it.
    lastWriteOk_ = AtomicFile::Write(path_, table_.toIni(), AtomicFile::Access::Private, &lastWriteError_);
    if (!lastWriteOk_ && failureSink_)
        failureSink_(QStringLiteral("Settings not saved (the old file is kept): ") + lastWriteError_);
}

} // namespace tessaly
