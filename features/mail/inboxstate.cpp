#include "features/mail/inboxstate.h"

#include "features/mail/cmail.h"

#include "ground/atomicfile.h"

#include <QFile>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace tessaly {

namespace {
constexpr int kFormat = 2;
// Format 1 kept whole messages; its records carry the same keys.
constexpr int kOldestFormat = 1;
// Far beyond any real mailbox (10 000 messages take about 1 MB); a larger
// file is not read at all.
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

// The file is written as text directly: building it from JSON objects cost
// more than the rest of a check of an unchanged mailbox.
void appendString(QByteArray& out, const QString& text) {
    out += '"';
    const QByteArray utf8 = text.toUtf8();
    qsizetype plain = 0; // start of the run of characters taken as they are
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        const auto u = static_cast<unsigned char>(c);
        if (c != '"' && c != '\\' && u >= 0x20)
            continue;
        out.append(utf8.constData() + plain, i - plain);
        plain = i + 1;
        if (u >= 0x20) {
            out += '\\';
            out += c;
        } else {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    out.append(utf8.constData() + plain, utf8.size() - plain);
    out += '"';
}

// Header values are kept only to page and filter a message again without
// asking for its header; a page shows far less than this.
constexpr qsizetype kMaxFieldChars = 1024;

void appendKey(QByteArray& out, const char* key) {
    out += '"';
    out += key;
    out += "\":";
}

void appendHeaderRecord(QByteArray& out, const QString& uid, const KnownHeader& h) {
    out += '{';
    appendKey(out, "uid");
    appendString(out, uid);
    for (const auto& [key, value] : {std::pair{"id", &h.id}, std::pair{"from", &h.from}, std::pair{"date", &h.dateSent},
                                     std::pair{"subject", &h.subject}, std::pair{"to", &h.mailTo}}) {
        out += ',';
        appendKey(out, key);
        // The ID is the message's identity and is kept whole.
        appendString(out, value == &h.id ? *value : value->left(kMaxFieldChars));
    }
    out += ',';
    appendKey(out, "size");
    out += QByteArray::number(h.size);
    if (h.priority != 0) {
        out += ',';
        appendKey(out, "priority");
        out += QByteArray::number(h.priority);
    }
    if (!h.filteredBy.isEmpty()) {
        out += ',';
        appendKey(out, "filtered");
        appendString(out, h.filteredBy);
    }
    if (h.unreadable) {
        out += ',';
        appendKey(out, "unreadable");
        out += "true";
    }
    out += '}';
}

// Reads the state file straight from its bytes into the few values kept,
// with no document tree in between: for an inbox of ten thousand messages
// the tree cost more time and memory than the rest of a check. The file is
// read in pieces of kPiece bytes, so that it is never held whole beside the
// inbox it fills. Any JSON is accepted; values of keys not asked for are
// passed over.
class StateReader {
public:
    explicit StateReader(QIODevice& in) : in_(in) { refill(); }

    // A value of a known key, as far as it is a string, number or truth value.
    struct Scalar {
        enum Kind { Other, String, Number, Bool } kind = Other;
        QString text;
        double number = 0;
        bool truth = false;
        QString toString() const { return kind == String ? text : QString(); }
        bool toBool(bool fallback) const { return kind == Bool ? truth : fallback; }
        qint64 toInteger(qint64 fallback) const {
            const bool whole = kind == Number && number == std::floor(number) && std::abs(number) < 9.0e15;
            return whole ? static_cast<qint64>(number) : fallback;
        }
        int toInt(int fallback) const {
            const qint64 v = toInteger(fallback);
            return v >= INT_MIN && v <= INT_MAX ? static_cast<int>(v) : fallback;
        }
    };

    // An object: onKey(key) is called with the reader before each value,
    // which it reads with scalar(), array(), object() or skip().
    template <class OnKey> bool object(OnKey&& onKey) {
        if (!take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            QByteArray key;
            if (!rawString(&key) || !take(':') || !onKey(key))
                return false;
        } while (take(','));
        return take('}');
    }
    // An array: onItem() reads each element.
    template <class OnItem> bool array(OnItem&& onItem) {
        if (!take('['))
            return false;
        if (take(']'))
            return true;
        do {
            if (!onItem())
                return false;
        } while (take(','));
        return take(']');
    }
    bool scalar(Scalar& out) {
        out = Scalar{};
        ws();
        if (more() && *p_ == '"') {
            QByteArray utf8;
            if (!rawString(&utf8))
                return false;
            out.kind = Scalar::String;
            out.text = QString::fromUtf8(utf8);
            return true;
        }
        if (word("true")) {
            out.kind = Scalar::Bool;
            out.truth = true;
            return true;
        }
        if (word("false")) {
            out.kind = Scalar::Bool;
            return true;
        }
        if (more() && (*p_ == '-' || (*p_ >= '0' && *p_ <= '9'))) {
            QByteArray text;
            if (!number(&text))
                return false;
            out.kind = Scalar::Number;
            out.number = text.toDouble();
            return true;
        }
        return skip();
    }
    bool isNext(char c) {
        ws();
        return more() && *p_ == c;
    }
    // Any value, passed over.
    bool skip(int depth = 0) {
        ws();
        if (!more() || depth > kMaxDepth)
            return false;
        switch (*p_) {
        case '{': return object([&](const QByteArray&) { return skip(depth + 1); });
        case '[': return array([&] { return skip(depth + 1); });
        case '"': return rawString(nullptr);
        case 't': return word("true");
        case 'f': return word("false");
        case 'n': return word("null");
        default: return number(nullptr);
        }
    }
    // True once only white space is left.
    bool atEnd() {
        ws();
        return !more();
    }
    // Where reading stopped, for the error message.
    qint64 offset() const { return consumed_ + (p_ - buffer_.constData()); }
    // False when reading the file failed (rather than its text being wrong).
    bool readOk() const { return readOk_; }

private:
    static constexpr int kMaxDepth = 64;
    static constexpr qsizetype kPiece = 64 * 1024;
    // Longer numbers are not numbers a state file holds.
    static constexpr qsizetype kMaxNumber = 400;

    // At least `n` bytes from p_ on in the buffer (fewer only at the end of
    // the file). A refill moves the buffer: pointers into it do not survive.
    bool more(qsizetype n = 1) {
        if (end_ - p_ >= n)
            return true;
        if (!atFileEnd_)
            refill();
        return end_ - p_ >= n;
    }
    void refill() {
        const qsizetype used = p_ ? p_ - buffer_.constData() : 0;
        consumed_ += used;
        buffer_.remove(0, used);
        const qsizetype kept = buffer_.size();
        buffer_.resize(kept + kPiece);
        const qint64 got = in_.read(buffer_.data() + kept, kPiece);
        if (got < 0)
            readOk_ = false;
        if (got <= 0)
            atFileEnd_ = true;
        buffer_.resize(kept + std::max<qint64>(got, 0));
        p_ = buffer_.constData();
        end_ = p_ + buffer_.size();
    }
    void ws() {
        while (more() && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
            ++p_;
    }
    bool take(char c) {
        ws();
        if (more() && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }
    bool word(const char* w) {
        const qsizetype n = qsizetype(std::strlen(w));
        if (!more(n) || std::memcmp(p_, w, size_t(n)) != 0)
            return false;
        p_ += n;
        return true;
    }
    // A number; its text goes to `out` unless that is null.
    bool number(QByteArray* out) {
        qsizetype length = 0;
        auto step = [&] {
            if (out)
                out->append(*p_);
            ++p_;
            return ++length <= kMaxNumber;
        };
        auto is = [&](auto test) { return more() && test(*p_); };
        auto digit = [](char c) { return c >= '0' && c <= '9'; };
        auto digits = [&] {
            const qsizetype from = length;
            while (is(digit))
                if (!step())
                    return false;
            return length > from;
        };
        if (is([](char c) { return c == '-'; }) && !step())
            return false;
        if (!digits())
            return false;
        if (is([](char c) { return c == '.'; }) && (!step() || !digits()))
            return false;
        if (is([](char c) { return c == 'e' || c == 'E'; })) {
            if (!step())
                return false;
            if (is([](char c) { return c == '+' || c == '-'; }) && !step())
                return false;
            if (!digits())
                return false;
        }
        return true;
    }
    static int hexValue(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }
    bool hex4(char32_t& out) {
        if (!more(4))
            return false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const int v = hexValue(*p_++);
            if (v < 0)
                return false;
            out = out * 16 + char32_t(v);
        }
        return true;
    }
    // A string as UTF-8 with its escapes resolved; `out` null: passed over.
    bool rawString(QByteArray* out) {
        if (!take('"'))
            return false;
        const char* plain = p_;
        auto flush = [&] {
            if (out)
                out->append(plain, p_ - plain);
        };
        while (true) {
            if (p_ == end_) {
                // The plain run so far is kept before the buffer moves on.
                flush();
                if (!more())
                    return false;
                plain = p_;
            }
            const char c = *p_;
            if (c == '"') {
                flush();
                ++p_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                ++p_;
                continue;
            }
            flush();
            ++p_;
            if (!more())
                return false;
            const char e = *p_++;
            char32_t code = 0;
            switch (e) {
            case '"':
            case '\\':
            case '/': code = char32_t(e); break;
            case 'b': code = '\b'; break;
            case 'f': code = '\f'; break;
            case 'n': code = '\n'; break;
            case 'r': code = '\r'; break;
            case 't': code = '\t'; break;
            case 'u': {
                if (!hex4(code))
                    return false;
                char32_t low = 0;
                // Six bytes at hand: looking at the low half moves no buffer.
                if (code >= 0xd800 && code < 0xdc00 && more(6) && p_[0] == '\\' && p_[1] == 'u') {
                    const char* back = p_;
                    p_ += 2;
                    if (hex4(low) && low >= 0xdc00 && low < 0xe000)
                        code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
                    else
                        p_ = back;
                }
                if (code >= 0xd800 && code < 0xe000)
                    code = 0xfffd; // a lone half of a pair
                break;
            }
            default: return false;
            }
            if (out)
                out->append(QString::fromUcs4(&code, 1).toUtf8());
            plain = p_;
        }
    }

    QIODevice& in_;
    QByteArray buffer_;
    const char* p_ = nullptr;
    const char* end_ = nullptr;
    qint64 consumed_ = 0; // bytes of the file before the buffer
    bool atFileEnd_ = false;
    bool readOk_ = true;
};

// One record of the header list; false only when the file is not JSON.
bool readHeaderRecord(StateReader& in, QString& uid, KnownHeader& h) {
    if (!in.isNext('{'))
        return in.skip();
    StateReader::Scalar v;
    return in.object([&](const QByteArray& key) {
        if (!in.scalar(v))
            return false;
        if (key == "uid")
            uid = v.toString();
        else if (key == "id")
            h.id = v.toString();
        else if (key == "from")
            h.from = v.toString().left(kMaxFieldChars);
        else if (key == "date")
            h.dateSent = v.toString().left(kMaxFieldChars);
        else if (key == "subject")
            h.subject = v.toString().left(kMaxFieldChars);
        else if (key == "to")
            h.mailTo = v.toString().left(kMaxFieldChars);
        else if (key == "size")
            h.size = static_cast<std::int32_t>(std::clamp<qint64>(v.toInteger(0), 0, INT32_MAX));
        else if (key == "priority")
            h.priority = static_cast<std::int16_t>(std::clamp(v.toInt(0), -32768, 32767));
        else if (key == "filtered")
            h.filteredBy = v.toString();
        else if (key == "unreadable")
            h.unreadable = v.toBool(false);
        return true;
    });
}

// One record of the message list; `id` stays empty for a record of another type.
bool readMarkRecord(StateReader& in, QString& id, MailMark& mark) {
    if (!in.isNext('{'))
        return in.skip();
    StateReader::Scalar v;
    bool isNew = true, paged = false, remote = false;
    int attempts = 0;
    const bool ok = in.object([&](const QByteArray& key) {
        if (!in.scalar(v))
            return false;
        if (key == "id")
            id = v.toString();
        else if (key == "new")
            isNew = v.toBool(true);
        else if (key == "paged")
            paged = v.toBool(false);
        else if (key == "pageAttempts")
            attempts = v.toInt(0);
        else if (key == "remoteChecked")
            remote = v.toBool(false);
        return true;
    });
    mark = MailMark{isNew, paged, static_cast<std::int16_t>(std::clamp(attempts, 0, 32767)), remote};
    return ok;
}
} // namespace

bool SaveInboxState(const Inbox& inbox, const QString& path, QString* error) {
    AtomicFile file(path);
    // Written in pieces, so that a large inbox is never held a second time as text.
    constexpr qsizetype kPiece = 64 * 1024;
    QByteArray text;
    text.reserve(kPiece + 4096);
    bool written = file.open();
    auto flush = [&](bool always) {
        if (written && (always || text.size() >= kPiece))
            written = file.write(text);
        if (always || text.size() >= kPiece)
            text.clear();
    };
    text += "{\"format\":" + QByteArray::number(kFormat) + ",\"messages\":[";
    bool first = true;
    inbox.ForEachMark([&](const QString& id, const MailMark& mark) {
        if (!first)
            text += ',';
        first = false;
        text += '{';
        appendKey(text, "id");
        appendString(text, id);
        text += mark.newMessage ? ",\"new\":true" : ",\"new\":false";
        text += mark.paged ? ",\"paged\":true" : ",\"paged\":false";
        if (mark.pageAttempts > 0)
            text += ",\"pageAttempts\":" + QByteArray::number(mark.pageAttempts);
        if (mark.remoteChecked)
            text += ",\"remoteChecked\":true";
        text += '}';
        flush(false);
    });
    text += ']';
    if (inbox.KnownCount() > 0) {
        text += ",\"headers\":[";
        first = true;
        inbox.ForEachKnown([&](const QString& uid, const KnownHeader& header) {
            if (!first)
                text += ',';
            first = false;
            appendHeaderRecord(text, uid, header);
            flush(false);
        });
        text += ']';
    }
    text += '}';
    flush(true);
    if (!written || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

namespace {
// What a state file holds, read whole before anything is folded in.
struct StateContents {
    int format = 0;
    bool hasList = false;
    QList<QPair<QString, MailMark>> marks;
    QList<QPair<QString, KnownHeader>> known;
};

// One top-level member of the state file; false when it is unreadable.
bool readStateMember(StateReader& in, const QByteArray& key, const Inbox& inbox, StateContents& out) {
    if (key == "format") {
        StateReader::Scalar v;
        if (!in.scalar(v))
            return false;
        out.format = v.toInt(0);
        return true;
    }
    if (key == "messages" && in.isNext('[')) {
        out.hasList = true;
        out.marks.clear();
        return in.array([&] {
            QString id;
            MailMark mark;
            if (!readMarkRecord(in, id, mark))
                return false;
            if (!id.isEmpty()) // nothing to know it by otherwise
                out.marks.append({id, mark});
            return true;
        });
    }
    if (key == "headers" && in.isNext('[')) {
        out.known.clear();
        return in.array([&] {
            QString uid;
            KnownHeader h;
            if (!readHeaderRecord(in, uid, h))
                return false;
            // A resident program knows most of them already, and the
            // inbox would keep its own copy anyway: not held twice.
            if (!uid.isEmpty() && (!h.id.isEmpty() || h.unreadable) && !inbox.HasKnown(uid))
                out.known.append({uid, std::move(h)});
            return true;
        });
    }
    return in.skip();
}
} // namespace

bool MergeInboxState(Inbox& inbox, const QString& path, QString* error) {
    QFile file(path);
    if (!file.exists())
        return true;
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    if (file.size() > kMaxFileBytes)
        return fail(QStringLiteral("the file is larger than %1 MB").arg(kMaxFileBytes / (1024 * 1024)));
    // Everything is read before anything is folded in.
    StateReader in(file);
    StateContents contents;
    const bool parsed = in.isNext('{') &&
                        in.object([&](const QByteArray& key) { return readStateMember(in, key, inbox, contents); }) &&
                        in.atEnd();
    if (!in.readOk())
        return fail(file.errorString());
    if (!parsed)
        return fail(QStringLiteral("not a state file (unreadable at byte %1)").arg(in.offset()));
    if (contents.format < kOldestFormat || contents.format > kFormat)
        return fail(QStringLiteral("unknown state file format"));
    if (!contents.hasList)
        return fail(QStringLiteral("no message list"));
    for (const auto& [id, mark] : contents.marks)
        inbox.Remember(id, mark);
    for (const auto& [uid, header] : contents.known)
        inbox.RememberKnown(uid, header);
    return true;
}

} // namespace tessaly
