#include "ground/printableascii.h"

#include <QList>

namespace tessaly {

namespace {

bool printable(char32_t c) { return c >= 0x20 && c <= 0x7E; }

// Letters and signs that have no decomposition into ASCII, with the ASCII
// a reader expects for them.
const char* spelledOut(char32_t c) {
    switch (c) {
    case 0x00DF: return "ss"; // ß
    case 0x1E9E: return "SS"; // capital sharp s
    case 0x00E6: return "ae";
    case 0x00C6: return "AE";
    case 0x0153: return "oe";
    case 0x0152: return "OE";
    case 0x00F8: return "o";
    case 0x00D8: return "O";
    case 0x0111: return "d"; // đ
    case 0x0110: return "D";
    case 0x00F0: return "d"; // ð
    case 0x00D0: return "D";
    case 0x00FE: return "th"; // þ
    case 0x00DE: return "Th";
    case 0x0142: return "l"; // ł
    case 0x0141: return "L";
    case 0x0131: return "i"; // dotless i
    case 0x0127: return "h"; // ħ
    case 0x0126: return "H";
    case 0x2018:
    case 0x2019:
    case 0x201A:
    case 0x201B:
    case 0x2032: return "'";
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x201F:
    case 0x2033:
    case 0x00AB:
    case 0x00BB: return "\"";
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2013:
    case 0x2014:
    case 0x2015:
    case 0x2212: return "-";
    case 0x2044:
    case 0x2215: return "/";
    case 0x00D7: return "x";
    case 0x2022:
    case 0x00B7: return "*";
    default: return nullptr;
    }
}

bool isMark(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing: return true;
    default: return false;
    }
}

// One character that is not printable ASCII.
void mapOne(char32_t c, QString& out) {
    if (const char* s = spelledOut(c)) {
        out += QLatin1String(s);
        return;
    }
    if (QChar::isSpace(c)) {
        out += QLatin1Char(' ');
        return;
    }
    if (c >= 0x80 && !QChar::isNonCharacter(c) && QChar::category(c) != QChar::Other_Surrogate) {
        // Compatibility decomposition: é is e + a combining accent, ﬁ is f i.
        const QString parts = QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_KD);
        QString plain;
        bool usable = true;
        for (char32_t p : parts.toUcs4()) {
            if (isMark(p))
                continue;
            if (printable(p))
                plain += QChar(p);
            else if (const char* s = spelledOut(p))
                plain += QLatin1String(s);
            else if (QChar::isSpace(p))
                plain += QLatin1Char(' ');
            else {
                usable = false;
                break;
            }
        }
        if (usable && !plain.isEmpty()) {
            out += plain;
            return;
        }
    }
    out += QLatin1Char('?');
}

} // namespace

QString toPrintableAscii(const QString& text) {
    QString out;
    out.reserve(text.size());
    const QList<uint> codes = text.toUcs4();
    for (uint code : codes) {
        const auto c = static_cast<char32_t>(code);
        if (printable(c))
            out += QChar(c);
        else
            mapOne(c, out);
    }
    return out;
}

} // namespace tessaly
