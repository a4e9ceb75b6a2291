#include "ground/textfmt.h"

#include "ground/tessalyerror.h"

#include <cmath>
#include <limits>

namespace tessaly {

namespace {

template <typename Int> Int roundHalfEven(double value) {
    if (!std::isfinite(value))
        throw overflowError();
    // nearbyint rounds to even under the default rounding mode.
    const double r = std::nearbyint(value);
    if (r < static_cast<double>(std::numeric_limits<Int>::min()) ||
        r > static_cast<double>(std::numeric_limits<Int>::max()))
        throw overflowError();
    return static_cast<Int>(r);
}

} // namespace

std::int16_t roundToInt16(double value) { return roundHalfEven<std::int16_t>(value); }
std::int32_t roundToInt32(double value) { return roundHalfEven<std::int32_t>(value); }

double leadingNumber(const QString& text) {
    qsizetype start = 0;
    while (start < text.size() && (text[start] == QLatin1Char(' ') || text[start] == QLatin1Char('\t')))
        ++start;
    const QString s = text.mid(start);

    if (s.size() >= 2 && s[0] == QLatin1Char('&')) {
        const QChar kind = s[1].toUpper();
        const int base = kind == QLatin1Char('H') ? 16 : kind == QLatin1Char('O') ? 8 : 0;
        if (base) {
            qsizetype i = 2;
            double v = 0;
            while (i < s.size()) {
                bool ok = false;
                const int d = QString(s[i]).toInt(&ok, base); // rejects digits outside the base
                if (!ok || s[i].unicode() > 127)
                    break;
                v = v * base + d;
                ++i;
            }
            return v;
        }
    }

    qsizetype i = 0;
    QString number;
    if (i < s.size() && (s[i] == QLatin1Char('+') || s[i] == QLatin1Char('-')))
        number += s[i++];
    bool digits = false;
    while (i < s.size() && s[i].isDigit() && s[i].unicode() < 128) {
        number += s[i++];
        digits = true;
    }
    if (i < s.size() && s[i] == QLatin1Char('.')) {
        number += s[i++];
        while (i < s.size() && s[i].isDigit() && s[i].unicode() < 128) {
            number += s[i++];
            digits = true;
        }
    }
    if (!digits)
        return 0;
    if (i < s.size() && (s[i] == QLatin1Char('e') || s[i] == QLatin1Char('E') || s[i] == QLatin1Char('d') ||
                         s[i] == QLatin1Char('D'))) {
        QString exponent = QStringLiteral("e");
        qsizetype j = i + 1;
        if (j < s.size() && (s[j] == QLatin1Char('+') || s[j] == QLatin1Char('-')))
            exponent += s[j++];
        bool expDigits = false;
        while (j < s.size() && s[j].isDigit() && s[j].unicode() < 128) {
            exponent += s[j++];
            expDigits = true;
        }
        if (expDigits)
            number += exponent;
    }
    bool ok = false;
    const double v = number.toDouble(&ok);
    return ok ? v : 0;
}

QString formatWhole(long long value) { return QString::number(value); }

QString formatFourDigits(long long value) {
    if (value < 0)
        return QLatin1Char('-') + QStringLiteral("%1").arg(-value, 4, 10, QLatin1Char('0'));
    return QStringLiteral("%1").arg(value, 4, 10, QLatin1Char('0'));
}

QString formatDateMDY(const QDate& date) { return date.toString(QStringLiteral("MM/dd/yyyy")); }

QString formatGeneralDate(const QDateTime& dateTime) {
    return dateTime.date().toString(QStringLiteral("M/d/yyyy")) + QLatin1Char(' ') +
           dateTime.time().toString(QStringLiteral("h:mm:ss AP"));
}

int secondsSinceMidnight(const QTime& time) { return time.msecsSinceStartOfDay() / 1000; }

} // namespace tessaly

#include <QRegularExpression>

namespace tessaly {

QTime parseTimeOfDay(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^\\s*(\\d{1,2})(?::(\\d{1,2}))?(?::(\\d{1,2}))?\\s*(?:([ap])\\.?\\s*(?:m\\.?)?)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return {};
    int hour = m.captured(1).toInt();
    const int minute = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
    const int second = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
    const QString half = m.captured(4).toLower();
    // A bare hour needs am or pm to be a time ("8" alone is a number).
    if (m.captured(2).isEmpty() && half.isEmpty())
        return {};
    if (!half.isEmpty()) {
        if (hour < 1 || hour > 12)
            return {};
        hour = hour % 12 + (half == QLatin1String("p") ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59)
        return {};
    return QTime(hour, minute, second);
}

} // namespace tessaly
