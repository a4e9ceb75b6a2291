#pragma once
// Webwire's cookie store: CCookie (one cookie, its attributes kept as the
// texts received) and Cookies (the ordered, keyed list a CHTTP object keeps
// for its lifetime). Nothing is written to disk.
//
// Rules of the store:
// - SendCookies builds "Cookie: a=1; b=2" + CR LF from the cookies whose
//   Domain equals RequestHostName exactly; an empty text when none does.
// - GetCookies reads every "Set-Cookie:" line (label in any letter case) of
//   a response header. A cookie is kept when its Domain equals
//   RequestHostName exactly and its Path occurs inside RequestURL (letter
//   case ignored); otherwise CookieRejected is raised and nothing is kept.
//   A kept cookie replaces the values of the stored one with the same
//   Domain, Path and name, or is appended.
// - Attribute keys are read up to their "=" without trimming, so an
//   attribute written after "; " (with a blank) is ignored; a cookie whose
//   line has no ";" gets no Domain and is rejected.
// - At most 300 cookies: Add drops the oldest beyond that.

#include "webwire/webwire_global.h"

#include <QObject>
#include <QString>
#include <memory>

namespace webwire {

class WEBWIRE_EXPORT CCookie {
public:
    CCookie();
    CCookie(const CCookie& other);
    CCookie& operator=(const CCookie& other);

    QString Expires() const { return expires_; }
    void SetExpires(const QString& v) { expires_ = v; }
    QString Version() const { return version_; }
    void SetVersion(const QString& v) { version_ = v; }
    QString Secure() const { return secure_; }
    void SetSecure(const QString& v) { secure_ = v; }
    QString Path() const { return path_; }
    void SetPath(const QString& v) { path_ = v; }
    QString MaxAge() const { return maxAge_; }
    void SetMaxAge(const QString& v) { maxAge_ = v; }
    QString Domain() const { return domain_; }
    void SetDomain(const QString& v) { domain_ = v; }
    QString Comment() const { return comment_; }
    void SetComment(const QString& v) { comment_ = v; }
    QString CookieValue() const { return value_; }
    void SetCookieValue(const QString& v) { value_ = v; }
    QString CookieName() const { return name_; }
    void SetCookieName(const QString& v) { name_ = v; }
    // How many CCookie objects the process had created when this one was
    // made (the first gets 1; a copy is a new object).
    qint32 ClassDebugID() const { return debugId_; }

    // name=value;$Path=path;$Domain=domain
    QString CreateCookie() const;

private:
    QString expires_, version_, secure_, path_, maxAge_, domain_, comment_, value_, name_;
    qint32 debugId_;
};

class WEBWIRE_EXPORT Cookies : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxCookies = 300;

    explicit Cookies(QObject* parent = nullptr);
    ~Cookies() override;

    // Path and host name of the current request (CHTTP sets both whenever
    // its URL is assigned).
    QString RequestURL() const { return requestUrl_; }
    void SetRequestURL(const QString& v) { requestUrl_ = v; }
    QString RequestHostName() const { return requestHost_; }
    void SetRequestHostName(const QString& v) { requestHost_ = v; }

    // The "Cookie: " request line for the current host, or an empty text.
    QString SendCookies() const;
    // Stores or rejects every cookie the header sets; true when it had at
    // least one "Set-Cookie:" line.
    bool GetCookies(const QString& header);

    void Clear();
    // Appends a cookie (under `sKey` unless empty), then drops the oldest
    // while more than 300 are stored. nullptr, and nothing added, when the
    // key is already used (letter case ignored).
    CCookie* Add(const QString& CookieName, const QString& CookieValue, const QString& Comment, const QString& Domain,
                 const QString& MaxAge, const QString& Path, const QString& Secure, const QString& Version,
                 const QString& Expires, const QString& sKey = {});
    // Overwrites the nine values of the entry at Index (from 1); false when
    // there is no such entry.
    bool Update(int Index, const QString& CookieName, const QString& CookieValue, const QString& Comment,
                const QString& Domain, const QString& MaxAge, const QString& Path, const QString& Secure,
                const QString& Version, const QString& Expires);
    // By position (from 1) or key; nullptr when there is none.
    CCookie* Item(int index) const;
    CCookie* Item(const QString& key) const;
    int Count() const;
    // false when there is no such entry.
    bool Remove(int index);
    bool Remove(const QString& key);

    // In order, oldest first.
    class const_iterator {
    public:
        const_iterator(const Cookies* store, int position) : store_(store), position_(position) {}
        CCookie& operator*() const { return *store_->Item(position_); }
        CCookie* operator->() const { return store_->Item(position_); }
        const_iterator& operator++() {
            ++position_;
            return *this;
        }
        bool operator==(const const_iterator& o) const { return position_ == o.position_; }
        bool operator!=(const const_iterator& o) const { return position_ != o.position_; }

    private:
        const Cookies* store_;
        int position_;
    };
    const_iterator begin() const { return {this, 1}; }
    const_iterator end() const { return {this, Count() + 1}; }

signals:
    // Declared for hosts; never raised.
    void CookieRequest(const QString& CookieName, const QString& CookieValue, const QString& Domain,
                       const QString& Path);
    void CookieRejected(const QString& CookieName, const QString& CookieValue, const QString& Domain,
                        const QString& Path);
    // Declared for hosts; never raised.
    void CookieAccepted();

private:
    struct List;
    std::unique_ptr<List> list_;
    QString requestUrl_, requestHost_;
};

} // namespace webwire
