#include "platform/imapreplies.h"

#include <algorithm>
#include <cstring>

namespace tessaly::imap {

namespace {

// The most of a response's line text that goes into Response::shown.
constexpr qsizetype kShownText = 1000;
// A literal's "{n}" with more digits than this names no size we read.
constexpr int kMaxSizeDigits = 18;
// The most memory reserved for a literal before its bytes arrive.
constexpr qint64 kReserveAhead = 1 << 16;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The size named by a "{n}" or "{n+}" at the end of `line`, or none.
std::optional<qint64> literalAtEnd(const QByteArray& line) {
    qsizetype end = line.size();
    if (end < 3 || line[end - 1] != '}')
        return std::nullopt;
    --end;
    if (line[end - 1] == '+')
        --end;
    qsizetype begin = end;
    while (begin > 0 && isDigit(line[begin - 1]))
        --begin;
    if (begin == end || begin == 0 || line[begin - 1] != '{' || end - begin > kMaxSizeDigits)
        return std::nullopt;
    return line.mid(begin, end - begin).toLongLong();
}

class Parser {
public:
    Parser(const QByteArray& line, const QList<std::pair<qsizetype, Value>>& literals, const Limits& limits)
        : s_(line), literals_(literals), limits_(limits) {}

    Response Run() {
        Response r;
        r.shown = s_.size() > kShownText ? s_.left(kShownText) + "..." : s_;
        if (s_.startsWith('+')) {
            r.kind = Response::Kind::Continuation;
            r.text = s_.mid(s_.startsWith("+ ") ? 2 : 1);
            return r;
        }
        if (s_.startsWith("* ")) {
            pos_ = 2;
            r.kind = Response::Kind::Untagged;
            untagged(r);
        } else {
            r.kind = Response::Kind::Tagged;
            tagged(r);
        }
        if (!error_.isEmpty()) {
            Response bad;
            bad.kind = Response::Kind::Unreadable;
            bad.text = error_;
            bad.shown = r.shown;
            return bad;
        }
        return r;
    }

private:
    bool atEnd() const { return pos_ >= s_.size(); }
    char peek() const { return atEnd() ? '\0' : s_[pos_]; }
    void fail(const char* why) {
        if (error_.isEmpty())
            error_ = why;
    }
    void skipSpaces() {
        while (!atEnd() && s_[pos_] == ' ')
            ++pos_;
    }
    // A run of characters up to the next space (or the end).
    QByteArray word() {
        const qsizetype begin = pos_;
        while (!atEnd() && s_[pos_] != ' ')
            ++pos_;
        return s_.mid(begin, pos_ - begin);
    }

    void tagged(Response& r) {
        r.tag = word();
        for (const char c : r.tag)
            if (c <= 0x20 || c >= 0x7f || c == '(' || c == ')' || c == '{' || c == '"' || c == '%' || c == '*' ||
                c == '+')
                return fail("a tag that is no IMAP tag");
        if (r.tag.isEmpty())
            return fail("an empty line");
        skipSpaces();
        r.status = word().toUpper();
        if (r.status != "OK" && r.status != "NO" && r.status != "BAD")
            return fail("a tagged response that is neither OK, NO nor BAD");
        statusText(r);
    }

    void untagged(Response& r) {
        if (isDigit(peek())) {
            const QByteArray n = word();
            bool ok = false;
            r.number = n.size() <= kMaxSizeDigits ? n.toLongLong(&ok) : 0;
            if (!ok)
                return fail("a message number that is no number");
            skipSpaces();
            r.status = word().toUpper();
            if (r.status.isEmpty())
                return fail("a number without a keyword");
            if (r.status == "FETCH") {
                skipSpaces();
                r.data = values();
                if (r.data.size() != 1 || r.data.first().kind != Value::Kind::List)
                    fail("a FETCH response without its list");
            }
            return;
        }
        r.status = word().toUpper();
        if (r.status.isEmpty())
            return fail("an untagged response without a keyword");
        if (r.status == "OK" || r.status == "NO" || r.status == "BAD" || r.status == "PREAUTH" || r.status == "BYE")
            return statusText(r);
        skipSpaces();
        const qsizetype start = pos_;
        r.data = values();
        const bool known =
            r.status == "CAPABILITY" || r.status == "FLAGS" || r.status == "SEARCH" || r.status == "ENABLED";
        if (!error_.isEmpty() && !known) {
            // A response this client never asks for need not be understood
            // to be passed over; its framing was read all the same.
            error_.clear();
            r.data.clear();
            r.text = s_.mid(start);
        }
    }

    // [SP] ["[" code [SP text] "]"] [SP] text
    void statusText(Response& r) {
        skipSpaces();
        if (peek() == '[') {
            const qsizetype close = s_.indexOf(']', pos_);
            if (close < 0)
                return fail("a response code without its closing bracket");
            const QByteArray inner = s_.mid(pos_ + 1, close - pos_ - 1);
            const qsizetype space = inner.indexOf(' ');
            r.code = (space < 0 ? inner : inner.left(space)).toUpper();
            r.codeText = space < 0 ? QByteArray() : inner.mid(space + 1);
            if (r.code.isEmpty())
                return fail("an empty response code");
            pos_ = close + 1;
            skipSpaces();
        }
        r.text = s_.mid(pos_);
        pos_ = s_.size();
    }

    QList<Value> values() {
        QList<Value> out;
        while (error_.isEmpty()) {
            skipSpaces();
            if (atEnd())
                break;
            if (peek() == ')') {
                fail("a closing parenthesis without its opening one");
                break;
            }
            out.append(value());
        }
        return out;
    }

    Value value() {
        Value v;
        if (++count_ > limits_.maxValues) {
            fail("more values than a response may hold");
            return v;
        }
        const char c = peek();
        if (c == '(')
            return list();
        if (c == '"')
            return quoted();
        if (c == '{')
            return literal();
        return atom();
    }

    Value list() {
        Value v;
        v.kind = Value::Kind::List;
        if (++depth_ > limits_.maxDepth) {
            fail("lists nested too deep");
            return v;
        }
        ++pos_; // "("
        for (;;) {
            skipSpaces();
            if (atEnd()) {
                fail("a list without its closing parenthesis");
                break;
            }
            if (peek() == ')') {
                ++pos_;
                break;
            }
            v.items.append(value());
            if (!error_.isEmpty())
                break;
        }
        --depth_;
        return v;
    }

    Value quoted() {
        Value v;
        v.kind = Value::Kind::String;
        ++pos_; // the opening quote
        while (!atEnd()) {
            char c = s_[pos_++];
            if (c == '"')
                return v;
            if (c == '\\') {
                if (atEnd())
                    break;
                c = s_[pos_++];
            }
            v.text += c;
        }
        fail("a quoted string without its closing quote");
        return v;
    }

    Value literal() {
        const qsizetype close = s_.indexOf('}', pos_);
        const qsizetype after = close + 1;
        if (close < 0 || literal_ >= literals_.size() || literals_[literal_].first != after) {
            fail("a literal where none was announced");
            return {};
        }
        pos_ = after;
        return literals_[literal_++].second;
    }

    Value atom() {
        Value v;
        v.kind = Value::Kind::Atom;
        const qsizetype begin = pos_;
        int bracket = 0;
        while (!atEnd()) {
            const char c = s_[pos_];
            if (bracket > 0) {
                // A fetch item's section ("BODY[HEADER.FIELDS (FROM)]") holds
                // spaces and parentheses of its own.
                if (c == '[')
                    ++bracket;
                else if (c == ']')
                    --bracket;
                ++pos_;
                continue;
            }
            if (c == '[') {
                ++bracket;
                ++pos_;
                continue;
            }
            if (c == ' ' || c == '(' || c == ')' || c == '{' || c == '"' || c == ']' ||
                static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                break;
            ++pos_;
        }
        if (bracket > 0) {
            fail("a section without its closing bracket");
            return v;
        }
        v.text = s_.mid(begin, pos_ - begin);
        if (v.text.isEmpty()) {
            fail("a character no value may start with");
            ++pos_;
            return v;
        }
        if (v.text.compare("NIL", Qt::CaseInsensitive) == 0) {
            v.kind = Value::Kind::Nil;
        } else if (v.text.size() <= 19 && std::all_of(v.text.cbegin(), v.text.cend(), isDigit)) {
            bool ok = false;
            v.number = v.text.toULongLong(&ok);
            if (ok)
                v.kind = Value::Kind::Number;
        }
        return v;
    }

    const QByteArray& s_;
    const QList<std::pair<qsizetype, Value>>& literals_;
    const Limits& limits_;
    qsizetype pos_ = 0;
    qsizetype literal_ = 0;
    int depth_ = 0;
    int count_ = 0;
    QByteArray error_;
};

} // namespace

bool Value::IsAtom(const char* upper) const {
    return kind == Kind::Atom && text.compare(QByteArray(upper), Qt::CaseInsensitive) == 0;
}

std::optional<quint64> Response::CodeNumber() const {
    bool ok = false;
    const quint64 n = codeText.trimmed().toULongLong(&ok);
    return ok ? std::optional<quint64>(n) : std::nullopt;
}

QList<QByteArray> Response::CodeWords() const {
    QList<QByteArray> words;
    for (const QByteArray& w : codeText.split(' '))
        if (!w.isEmpty())
            words.append(w.toUpper());
    return words;
}

Response Parse(const QByteArray& line, const QList<std::pair<qsizetype, Value>>& literals, const Limits& limits) {
    return Parser(line, literals, limits).Run();
}

void ResponseReader::Reset() {
    line_.clear();
    literals_.clear();
    literalLeft_ = 0;
    inLiteral_ = false;
    kept_ = 0;
    failed_ = false;
    failure_.clear();
}

Response ResponseReader::unreadable(const QByteArray& why) {
    if (!failed_) {
        failed_ = true;
        failure_ = why;
    }
    line_.clear();
    literals_.clear();
    inLiteral_ = false;
    Response r;
    r.kind = Response::Kind::Unreadable;
    r.text = failure_;
    return r;
}

Response ResponseReader::finish() {
    QList<std::pair<qsizetype, Value>> values;
    values.reserve(literals_.size());
    for (Literal& l : literals_) {
        Value v;
        v.kind = Value::Kind::String;
        v.literal = true;
        v.tooBig = l.tooBig;
        v.size = l.size;
        v.text = std::move(l.bytes);
        values.append({l.at, std::move(v)});
    }
    Response r = Parse(line_, values, limits_);
    line_.clear();
    literals_.clear();
    kept_ = 0;
    if (r.kind == Response::Kind::Unreadable) {
        failed_ = true;
        failure_ = r.text;
    }
    return r;
}

std::optional<Response> ResponseReader::Next(QByteArray& buffer) {
    if (failed_)
        return unreadable(failure_);
    const qsizetype n = buffer.size();
    qsizetype pos = 0;
    while (pos < n) {
        if (inLiteral_) {
            const qint64 take = std::min<qint64>(literalLeft_, n - pos);
            Literal& lit = literals_.last();
            if (!lit.tooBig)
                lit.bytes.append(buffer.constData() + pos, static_cast<qsizetype>(take));
            pos += static_cast<qsizetype>(take);
            literalLeft_ -= take;
            if (literalLeft_ == 0)
                inLiteral_ = false;
            continue;
        }
        const char* start = buffer.constData() + pos;
        const void* lf = std::memchr(start, '\n', static_cast<size_t>(n - pos));
        const qsizetype end = lf ? static_cast<const char*>(lf) - buffer.constData() : n;
        if (line_.size() + (end - pos) > limits_.maxLine) {
            buffer.remove(0, lf ? end + 1 : n);
            return unreadable("a line longer than a response may be");
        }
        line_.append(start, end - pos);
        pos = end;
        if (!lf)
            break;
        ++pos; // the LF
        if (line_.endsWith('\r'))
            line_.chop(1);
        if (const std::optional<qint64> size = literalAtEnd(line_)) {
            if (literals_.size() >= limits_.maxValues) {
                buffer.remove(0, pos);
                return unreadable("more literals than a response may hold");
            }
            Literal lit;
            lit.at = line_.size();
            lit.size = *size;
            lit.tooBig = *size > limits_.maxLiteral || kept_ + *size > limits_.maxKept;
            if (!lit.tooBig) {
                kept_ += *size;
                lit.bytes.reserve(static_cast<qsizetype>(std::min(*size, kReserveAhead)));
            }
            literals_.append(std::move(lit));
            literalLeft_ = *size;
            inLiteral_ = *size > 0;
            continue;
        }
        buffer.remove(0, pos);
        return finish();
    }
    buffer.remove(0, pos);
    return std::nullopt;
}

QList<std::pair<QByteArray, Value>> FetchItems(const Response& response) {
    QList<std::pair<QByteArray, Value>> items;
    if (response.kind != Response::Kind::Untagged || response.status != "FETCH" || response.data.size() != 1)
        return items;
    const QList<Value>& list = response.data.first().items;
    if (list.size() % 2 != 0)
        return items;
    for (qsizetype i = 0; i < list.size(); i += 2) {
        if (list[i].kind != Value::Kind::Atom)
            return {};
        items.append({list[i].text.toUpper(), list[i + 1]});
    }
    return items;
}

const Value* FetchItem(const QList<std::pair<QByteArray, Value>>& items, const char* name) {
    for (const auto& [key, value] : items)
        if (key == name)
            return &value;
    return nullptr;
}

std::optional<QByteArray> Quoted(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0 || u == '\r' || u == '\n' || u >= 0x80)
            return std::nullopt;
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

} // namespace tessaly::imap
