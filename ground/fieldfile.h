#pragma once
// Comma-separated field files (profiles, filters.dat): 8-bit text, CR LF
// line ends, texts in double quotes without escaping, truth values as
// #TRUE#/#FALSE#, numbers in decimal. Reading takes fields in order across
// line ends; past the last field is the input-past-end error, a number too
// big for its field the overflow error, a non-number a type mismatch.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace tessaly {

// Reads the fields in order, across line ends.
class FieldReader {
public:
    explicit FieldReader(QByteArray data) : data_(std::move(data)) {}

    QString ReadText();
    bool ReadBool();
    std::int16_t ReadInt16();
    std::int32_t ReadInt32();
    // True when no field is left (blank lines and blanks do not count).
    bool AtEnd();
    // True when the next field is written in double quotes. Does not consume it.
    bool NextFieldQuoted();

private:
    struct Field {
        QString text;
        bool quoted = false;
    };
    Field next();
    void skipLeading();
    void endField();
    double number(const Field& f);

    QByteArray data_;
    qsizetype pos_ = 0;
    bool afterComma_ = false;
};

// Builds the lines of such a file.
class FieldWriter {
public:
    // `what` names the field in the error raised for a text the file cannot hold.
    FieldWriter& Text(const QString& value, const QString& what);
    FieldWriter& Bool(bool value);
    FieldWriter& Int(long long value);
    void EndLine();
    const QByteArray& Bytes() const { return out_; }

private:
    void separate();
    QByteArray out_;
    bool lineStarted_ = false;
};

} // namespace tessaly
