#include "webwire/cookies.h"

#include "ground/keyedlist.h"

namespace webwire {

namespace {
qint32 g_cookiesCreated = 0;
}

CCookie::CCookie() : debugId_(++g_cookiesCreated) {}

CCookie::CCookie(const CCookie& o)
    : expires_(o.expires_), version_(o.version_), secure_(o.secure_), path_(o.path_), maxAge_(o.maxAge_),
      domain_(o.domain_), comment_(o.comment_), value_(o.value_), name_(o.name_), debugId_(++g_cookiesCreated) {}

CCookie& CCookie::operator=(const CCookie& o) {
    const qint32 id = debugId_;
    expires_ = o.expires_;
    version_ = o.version_;
    secure_ = o.secure_;
    path_ = o.path_;
    maxAge_ = o.maxAge_;
    domain_ = o.domain_;
    comment_ = o.comment_;
    value_ = o.value_;
    name_ = o.name_;
    debugId_ = id;
    return *this;
}

QString CCookie::CreateCookie() const {
    return name_ + QLatin1Char('=') + value_ + QStringLiteral(";$Path=") + path_ + QStringLiteral(";$Domain=") +
           domain_;
}

struct Cookies::List {
    tessaly::KeyedList<CCookie> items;
};

Cookies::Cookies(QObject* parent) : QObject(parent), list_(std::make_unique<List>()) {}
Cookies::~Cookies() = default;

namespace {

void assign(CCookie& c, const QString& name, const QString& value, const QString& comment, const QString& domain,
            const QString& maxAge, const QString& path, const QString& secure, const QString& version,
            const QString& expires) {
    c.SetCookieName(name);
    c.SetCookieValue(value);
    c.SetComment(comment);
    c.SetDomain(domain);
    c.SetMaxAge(maxAge);
    c.SetPath(path);
    c.SetSecure(secure);
    c.SetVersion(version);
    c.SetExpires(expires);
}

// One "Set-Cookie:" value: name=value, then ";key=value" attributes whose
// keys are lower-cased but not trimmed.
CCookie parseCookie(const QString& line, const QString& requestHost) {
    CCookie c;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return c;
    c.SetCookieName(line.left(eq).trimmed());
    const qsizetype semi = line.indexOf(QLatin1Char(';'));
    if (semi < 0) {
        c.SetCookieValue(line.mid(eq + 1).trimmed());
        return c;
    }
    // A ";" before the "=" leaves the value empty.
    c.SetCookieValue(semi > eq ? line.mid(eq + 1, semi - eq - 1).trimmed() : QString());
    const QStringList attributes = line.mid(semi + 1).split(QLatin1Char(';'));
    for (const QString& attribute : attributes) {
        const qsizetype aeq = attribute.indexOf(QLatin1Char('='));
        if (aeq < 0)
            continue;
        const QString key = attribute.left(aeq).toLower();
        const QString value = attribute.mid(aeq + 1);
        if (key == QLatin1String("domain"))
            c.SetDomain(value);
        else if (key == QLatin1String("comment"))
            c.SetComment(value);
        else if (key == QLatin1String("max-age"))
            c.SetMaxAge(value);
        else if (key == QLatin1String("version"))
            c.SetVersion(value);
        else if (key == QLatin1String("path"))
            c.SetPath(value);
        else if (key == QLatin1String("secure"))
            c.SetSecure(value);
        else if (key == QLatin1String("expires"))
            c.SetExpires(value);
    }
    if (c.Domain().isEmpty())
        c.SetDomain(requestHost);
    if (c.Path().isEmpty())
        c.SetPath(QStringLiteral("/"));
    return c;
}

} // namespace

QString Cookies::SendCookies() const {
    QString line = QStringLiteral("Cookie: ");
    auto oneLine = [](const QString& t) { return !t.contains(QLatin1Char('\r')) && !t.contains(QLatin1Char('\n')); };
    for (const CCookie& c : list_->items)
        // A cookie the host added with a line break in it is not sent: it
        // would add a line of its own to the request.
        if (c.Domain() == requestHost_ && oneLine(c.CookieName()) && oneLine(c.CookieValue()))
            line += c.CookieName() + QLatin1Char('=') + c.CookieValue() + QStringLiteral("; ");
    line.chop(2);
    if (line == QLatin1String("Cookie"))
        return {};
    return line + QStringLiteral("\r\n");
}

bool Cookies::GetCookies(const QString& header) {
    static const QString label = QStringLiteral("Set-Cookie:");
    bool found = false;
    for (qsizetype at = header.indexOf(label, 0, Qt::CaseInsensitive); at >= 0;
         at = header.indexOf(label, at + 1, Qt::CaseInsensitive)) {
        found = true;
        const qsizetype from = at + label.size();
        // The line ends at CR, or at a bare LF from a server that sends those:
        // nothing after a line break ever becomes part of a cookie.
        qsizetype end = from;
        while (end < header.size() && header.at(end) != QLatin1Char('\r') && header.at(end) != QLatin1Char('\n'))
            ++end;
        const CCookie c = parseCookie(header.mid(from, end - from), requestHost_);
        if (c.Domain() != requestHost_ || !requestUrl_.contains(c.Path(), Qt::CaseInsensitive)) {
            emit CookieRejected(c.CookieName(), c.CookieValue(), c.Domain(), c.Path());
            continue;
        }
        int match = 0;
        for (int i = 1; i <= Count() && match == 0; ++i) {
            const CCookie& s = *Item(i);
            if (s.Domain() == c.Domain() && s.Path() == c.Path() && s.CookieName() == c.CookieName())
                match = i;
        }
        if (match > 0)
            Update(match, c.CookieName(), c.CookieValue(), c.Comment(), c.Domain(), c.MaxAge(), c.Path(), c.Secure(),
                   c.Version(), c.Expires());
        else
            Add(c.CookieName(), c.CookieValue(), c.Comment(), c.Domain(), c.MaxAge(), c.Path(), c.Secure(), c.Version(),
                c.Expires());
    }
    return found;
}

void Cookies::Clear() { list_->items.Clear(); }

CCookie* Cookies::Add(const QString& name, const QString& value, const QString& comment, const QString& domain,
                      const QString& maxAge, const QString& path, const QString& secure, const QString& version,
                      const QString& expires, const QString& sKey) {
    if (!sKey.isEmpty() && list_->items.Contains(sKey))
        return nullptr;
    auto c = std::make_unique<CCookie>();
    assign(*c, name, value, comment, domain, maxAge, path, secure, version, expires);
    CCookie* added = &list_->items.Add(std::move(c), sKey);
    while (list_->items.Count() > kMaxCookies)
        list_->items.Remove(1);
    return added; // the newest is never the one dropped
}

bool Cookies::Update(int index, const QString& name, const QString& value, const QString& comment,
                     const QString& domain, const QString& maxAge, const QString& path, const QString& secure,
                     const QString& version, const QString& expires) {
    CCookie* c = Item(index);
    if (!c)
        return false;
    assign(*c, name, value, comment, domain, maxAge, path, secure, version, expires);
    return true;
}

CCookie* Cookies::Item(int index) const { return index >= 1 && index <= Count() ? &list_->items.Item(index) : nullptr; }

CCookie* Cookies::Item(const QString& key) const { return list_->items.Find(key); }

int Cookies::Count() const { return list_->items.Count(); }

bool Cookies::Remove(int index) {
    if (index < 1 || index > Count())
        return false;
    list_->items.Remove(index);
    return true;
}

bool Cookies::Remove(const QString& key) {
    if (!list_->items.Contains(key))
        return false;
    list_->items.Remove(key);
    return true;
}

} // namespace webwire
