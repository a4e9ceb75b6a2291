#include "ground/fieldfile.h"

#include "ground/tessalyerror.h"
#include "ground/textfmt.h"

#include <QRegularExpression>

namespace tessaly {

namespace {
constexpr int kTypeMismatch = 13;
bool isLineEnd(char c) { return c == '\r' || c == '\n'; }
} // namespace

bool FieldReader::AtEnd() {
    // After a comma another field follows, even an empty one at the line end.
    if (afterComma_)
        return false;
    skipLeading();
    return pos_ >= data_.size();
}

void FieldReader::skipLeading() {
    for (;;) {
        while (pos_ < data_.size() && (data_[pos_] == ' ' || data_[pos_] == '\t'))
            ++pos_;
        // Blank lines between records are skipped; after a comma a line end
        // closes an empty field instead.
        if (!afterComma_ && pos_ < data_.size() && isLineEnd(data_[pos_])) {
            ++pos_;
            continue;
        }
        return;
    }
}

void FieldReader::endField() {
    if (pos_ >= data_.size()) {
        afterComma_ = false;
        return;
    }
    if (data_[pos_] == ',') {
        ++pos_;
        afterComma_ = true;
        return;
    }
    if (data_[pos_] == '\r' && pos_ + 1 < data_.size() && data_[pos_ + 1] == '\n')
        pos_ += 2;
    else
        ++pos_;
    afterComma_ = false;
}

FieldReader::Field FieldReader::next() {
    skipLeading();
    if (pos_ >= data_.size())
        throw TessalyError(err::InputPastEnd, QStringLiteral("Input past end of file"));
    Field f;
    if (data_[pos_] == '"') {
        f.quoted = true;
        const qsizetype close = data_.indexOf('"', pos_ + 1);
        if (close < 0) {
            f.text = QString::fromLatin1(data_.mid(pos_ + 1));
            pos_ = data_.size();
        } else {
            f.text = QString::fromLatin1(data_.mid(pos_ + 1, close - pos_ - 1));
            pos_ = close + 1;
        }
        // Anything between the closing quote and the separator is ignored.
        while (pos_ < data_.size() && data_[pos_] != ',' && !isLineEnd(data_[pos_]))
            ++pos_;
    } else {
        const qsizetype start = pos_;
        while (pos_ < data_.size() && data_[pos_] != ',' && !isLineEnd(data_[pos_]))
            ++pos_;
        QByteArray raw = data_.mid(start, pos_ - start);
        while (raw.endsWith(' ') || raw.endsWith('\t'))
            raw.chop(1);
        f.text = QString::fromLatin1(raw);
    }
    endField();
    return f;
}

bool FieldReader::NextFieldQuoted() {
    skipLeading();
    return pos_ < data_.size() && data_[pos_] == '"';
}

double FieldReader::number(const Field& f) {
    const QString t = f.text.trimmed();
    if (!f.quoted) {
        if (t.compare(QLatin1String("#TRUE#"), Qt::CaseInsensitive) == 0)
            return -1;
        if (t.compare(QLatin1String("#FALSE#"), Qt::CaseInsensitive) == 0)
            return 0;
    }
    if (t.isEmpty())
        return 0;
    static const QRegularExpression numeric(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    if (!numeric.match(t).hasMatch())
        throw TessalyError(kTypeMismatch, QStringLiteral("Type mismatch"));
    return t.toDouble();
}

QString FieldReader::ReadText() { return next().text; }

bool FieldReader::ReadBool() {
    const Field f = next();
    const QString t = f.text.trimmed();
    if (t.compare(QLatin1String("#TRUE#"), Qt::CaseInsensitive) == 0 ||
        t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("#FALSE#"), Qt::CaseInsensitive) == 0 ||
        t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    return number(f) != 0;
}

std::int16_t FieldReader::ReadInt16() { return roundToInt16(number(next())); }
std::int32_t FieldReader::ReadInt32() { return roundToInt32(number(next())); }

// ---------------------------------------------------------------- writing

void FieldWriter::separate() {
    if (lineStarted_)
        out_ += ',';
    lineStarted_ = true;
}

FieldWriter& FieldWriter::Text(const QString& value, const QString& what) {
    for (QChar c : value) {
        if (c == QLatin1Char('"') || c == QChar(13) || c == QChar(10) || c.unicode() > 255)
            throw TessalyError(err::InvalidCall,
                               what + QStringLiteral(" contains a character that the file cannot hold (a "
                                                     "double quote, a line break or a character outside "
                                                     "Latin-1)."));
    }
    separate();
    out_ += '"';
    out_ += value.toLatin1();
    out_ += '"';
    return *this;
}

FieldWriter& FieldWriter::Bool(bool value) {
    separate();
    out_ += value ? "#TRUE#" : "#FALSE#";
    return *this;
}

FieldWriter& FieldWriter::Int(long long value) {
    separate();
    out_ += QByteArray::number(value);
    return *this;
}

void FieldWriter::EndLine() {
    out_ += "\r\n";
    lineStarted_ = false;
}

} // namespace tessaly
