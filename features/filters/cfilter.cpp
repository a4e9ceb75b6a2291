#include "features/filters/cfilter.h"

#include "ground/atomicfile.h"
#include "ground/fieldfile.h"
#include "ground/tessalyerror.h"
#include "platform/prompter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tessaly {

bool CFilter::Matches(const QString& subject, const QString& recipient, const QString& sender,
                      const QString& body) const {
    QString part;
    switch (object_) {
    case Subject: part = subject; break;
    case Sender: part = sender; break;
    case Body: part = body; break;
    case Recipient: part = recipient; break;
    default: break; // an unknown part is tested as empty text
    }
    switch (action_) {
    case Contains: return part.contains(text_, Qt::CaseInsensitive);
    case DoesNotContain: return !part.contains(text_, Qt::CaseInsensitive);
    case Is: return part.compare(text_, Qt::CaseInsensitive) == 0;
    case IsNot: return part.compare(text_, Qt::CaseInsensitive) != 0;
    default: return false;
    }
}

CFilter* Filters::Add(const QString& name, std::int16_t object, std::int16_t action, const QString& text, bool enabled,
                      const QString& key) {
    if (list_.Contains(key))
        return nullptr;
    auto rule = std::make_unique<CFilter>();
    rule->SetName(name);
    rule->SetFilterObject(object);
    rule->SetFilterAction(action);
    rule->SetFilterText(text);
    rule->SetEnabled(enabled);
    return &list_.Add(std::move(rule), key);
}

CFilter* Filters::Item(int position) const {
    if (position < 1 || position > list_.Count())
        return nullptr;
    return &list_.Item(position);
}

void Filters::CopyObjects(Filters& target) const {
    if (&target == this)
        return;
    target.Clear();
    for (const CFilter& f : list_)
        target.list_.Add(std::make_unique<CFilter>(f));
}

bool Filters::CheckForSpam(const QString& subject, const QString& recipient, const QString& sender,
                           const QString& body) const {
    return MatchingRule(subject, recipient, sender, body) > 0;
}

int Filters::MatchingRule(const QString& subject, const QString& recipient, const QString& sender,
                          const QString& body) const {
    int number = 0;
    for (const CFilter& f : list_) {
        ++number;
        if (f.Enabled() && f.Matches(subject, recipient, sender, body))
            return number;
    }
    return 0;
}

QString Filters::Fingerprint() const {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const CFilter& f : list_) {
        if (!f.Enabled())
            continue;
        const QByteArray rule = QByteArray::number(f.FilterObject()) + ' ' + QByteArray::number(f.FilterAction()) +
                                ' ' + f.FilterText().toUtf8();
        hash.addData(QByteArray::number(rule.size()) + ':' + rule);
    }
    return QString::fromLatin1(hash.result().toHex().left(16));
}

QString filterEntryProblem(const QString& name, const QString& text) {
    if (name.isEmpty())
        return QStringLiteral("Please enter a name for your mail filter.");
    if (text.isEmpty())
        return QStringLiteral("Please enter the filter string.");
    if (name.contains(QLatin1Char('"')) || text.contains(QLatin1Char('"')))
        return QStringLiteral("A filter name or text cannot contain a double quote (\").");
    return {};
}

QString Filters::FilePath() const {
    return directory_ + QLatin1Char('/') + (filename_.isEmpty() ? kDefaultFilename : filename_);
}

QString Filters::ErrorText(int number, const QString& drive) {
    switch (number) {
    case err::FileNotFound: return QStringLiteral("ERROR 53: That file doesn't exist.");
    case 68: return QStringLiteral("ERROR 68: Drive ") + drive + QStringLiteral(": not available.");
    case 76: return QStringLiteral("ERROR 76: That path doesn't exist.");
    default: return QStringLiteral("ERROR %1 occurred.").arg(number);
    }
}

namespace {
constexpr int kPathNotFound = 76;
constexpr int kPathFileAccess = 75;
constexpr int kDiskFull = 61;

int fileErrorNumber(const QString& path, bool diskFull) {
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir())
        return kPathNotFound;
    return diskFull ? kDiskFull : kPathFileAccess;
}
} // namespace

bool Filters::Save(Prompter& prompter) {
    if (filename_.isEmpty())
        filename_ = kDefaultFilename;
    FieldWriter out;
    try {
        for (const CFilter& f : list_) {
            out.Text(f.Name(), QStringLiteral("The name of the filter \"%1\"").arg(f.Name()))
                .Int(f.FilterObject())
                .Int(f.FilterAction())
                .Text(f.FilterText(), QStringLiteral("The text of the filter \"%1\"").arg(f.Name()))
                .Bool(f.Enabled());
            out.EndLine();
        }
    } catch (const TessalyError& e) {
        // A rule that would read back as another rule is not written at all.
        prompter.messageBox(e.description());
        return false;
    }
    const QString path = FilePath();
    AtomicFile file(path);
    if (!file.open() || !file.write(out.Bytes()) || !file.commit()) {
        prompter.messageBox(ErrorText(fileErrorNumber(path, file.diskFull())));
        return false;
    }
    return true;
}

void Filters::Read(Prompter& prompter) {
    if (filename_.isEmpty())
        filename_ = kDefaultFilename;
    const QString path = FilePath();
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        prompter.messageBox(ErrorText(fileErrorNumber(path, file.error() == QFileDevice::ResourceError)));
        return;
    }
    FieldReader in(file.readAll());
    file.close();
    try {
        while (!in.AtEnd()) {
            const QString name = in.ReadText();
            const std::int16_t object = in.ReadInt16();
            const std::int16_t action = in.ReadInt16();
            const QString text = in.ReadText();
            const bool enabled = in.ReadBool();
            Add(name, object, action, text, enabled);
        }
    } catch (const TessalyError& e) {
        prompter.messageBox(ErrorText(e.number()));
    }
}

} // namespace tessaly
