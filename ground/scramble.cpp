#include "ground/scramble.h"

#include "ground/tessalyerror.h"

namespace tessaly {

namespace {

constexpr int kScrambleLimit = 255; // the scrambler counts positions in one byte

QString shifted(const QString& text, int oddShift) {
    if (text.size() >= kScrambleLimit)
        throw overflowError();
    QString out(text.size(), QChar());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int code = text.at(i).unicode();
        const int value = code + ((i % 2 == 0) ? oddShift : -oddShift); // i = 0 is position 1
        if (code > 255 || value < 0 || value > 255)
            throw TessalyError(err::InvalidCall, QStringLiteral("Invalid procedure call or argument"));
        out[i] = QChar(value);
    }
    return out;
}

} // namespace

QString ScrambleText(const QString& text) { return shifted(text, 10); }
QString UnscrambleText(const QString& text) { return shifted(text, -10); }

bool PasswordStorable(const QString& password) {
    QString scrambled;
    try {
        scrambled = ScrambleText(password);
    } catch (const TessalyError&) {
        return false;
    }
    for (QChar c : scrambled)
        if (c == QLatin1Char('"') || c == QChar(13) || c == QChar(10))
            return false;
    return true;
}

// ---------------------------------------------------------------- save

} // namespace tessaly
