#pragma once
// The profile data file: the user's whole configuration apart from the
// registry values and the filter file. An 8-bit text file with CR LF line
// ends and comma-separated fields: texts in double quotes (no escaping),
// truth values as #TRUE#/#FALSE#, numbers in decimal.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace tessaly {

class MainProgram;

// The three passwords of a profile are stored scrambled: the code of each
// character gets +10 at odd positions (counted from 1) and -10 at even
// ones. A text of 255 characters or more is an overflow error; a character
// whose code would leave 0..255 is an invalid-call error.
QString ScrambleText(const QString& text);
QString UnscrambleText(const QString& text);

// True when `password` can be scrambled and its scrambled form stored in a
// quoted field and read back unchanged.
bool PasswordStorable(const QString& password);

// Writes the live settings, pagers, services, modem profiles and accounts
// to `path` in the current format and clears the profile-changed flag.
// Errors reach the caller as TessalyError; a text the file cannot hold is
// refused before anything is written, so the old file stays as it was.
void SaveProfile(MainProgram& program, const QString& path);
// Reads a profile of either format into the live settings and the lists.
// Reports every problem itself and never fails towards the caller.
void LoadProfile(MainProgram& program, const QString& path);
// The reader of the older format (no version line, one mail account).
void LoadOldProfile(MainProgram& program, const QString& path);

// Reads the fields of a profile in order, across line ends.
class ProfileReader {
public:
    explicit ProfileReader(QByteArray data) : data_(std::move(data)) {}

    QString ReadText();
    bool ReadBool();
    std::int16_t ReadInt16();
    std::int32_t ReadInt32();
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

// Builds the lines of a profile.
class ProfileWriter {
public:
    // `what` names the field in the error raised for a text the file cannot hold.
    ProfileWriter& Text(const QString& value, const QString& what);
    ProfileWriter& Bool(bool value);
    ProfileWriter& Int(long long value);
    void EndLine();
    const QByteArray& Bytes() const { return out_; }

private:
    void separate();
    QByteArray out_;
    bool lineStarted_ = false;
};

} // namespace tessaly
