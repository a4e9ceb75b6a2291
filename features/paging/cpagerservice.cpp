#include "features/paging/cpagerservice.h"

#include <QStringList>
#include <algorithm>

namespace tessaly {

namespace {

// Removes blanks (only the space character) from both ends.
QString trimSpaces(const QString& s) {
    qsizetype first = 0;
    qsizetype last = s.size();
    while (first < last && s.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && s.at(last - 1) == QLatin1Char(' '))
        --last;
    return s.mid(first, last - first);
}

QStringList trimmedPieces(const QString& message) {
    QStringList pieces = message.split(QLatin1Char(','));
    for (QString& p : pieces)
        p = trimSpaces(p);
    return pieces;
}

} // namespace

std::int16_t CPagerService::CommPort() const {
    // The text is only ever written from a 16-bit number.
    return static_cast<std::int16_t>(commPort_.toShort());
}

bool CPagerService::HostAndPort(QString& host, int& port, int defaultPort) const {
    const QString a = address_.trimmed();
    if (a.isEmpty() || a.contains(QLatin1Char(' ')))
        return false;
    // "[::1]:444" for an IPv6 address with a port; a bare IPv6 address has
    // more than one colon.
    qsizetype colon = -1;
    if (a.startsWith(QLatin1Char('['))) {
        const qsizetype close = a.indexOf(QLatin1Char(']'));
        if (close < 2)
            return false;
        host = a.mid(1, close - 1);
        if (close + 1 < a.size()) {
            if (a.at(close + 1) != QLatin1Char(':'))
                return false;
            colon = close + 1;
        }
    } else if (a.count(QLatin1Char(':')) == 1) {
        colon = a.indexOf(QLatin1Char(':'));
        host = a.left(colon);
    } else {
        host = a;
    }
    if (host.isEmpty())
        return false;
    port = defaultPort;
    if (colon >= 0) {
        bool ok = false;
        port = a.mid(colon + 1).toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return false;
    }
    return true;
}

void CPagerService::SetMaxPageChar(int v) { maxPageChar_ = static_cast<std::int16_t>(std::clamp(v, 1, 32767)); }

QString CPagerService::Block(int number) const {
    if (number < 1 || number > blockCount_)
        return {};
    return blocks_[static_cast<std::size_t>(number)];
}

void CPagerService::SplitMessage(const QString& text, int maxBlocks) {
    // The table has room for 20 blocks. Any other limit than 1..20 reads as
    // 20, so the last slot takes the rest of the text and nothing is ever
    // written past it.
    if (maxBlocks < 1 || maxBlocks > kMaxBlocks)
        maxBlocks = kMaxBlocks;
    // A service that was never given a block length splits into blocks of
    // one character rather than failing on a division by zero.
    const int width = std::max<int>(1, maxPageChar_);

    QString work = text;
    const qsizetype length = work.size();
    int block = 1;
    for (qsizetype i = 1; i <= length; ++i) {
        if (work.at(i - 1) == QChar(13)) {
            work[i - 1] = QLatin1Char(' ');
            if (i < length)
                work[i] = QChar(8);
        }
        if (i % width == 0) {
            if (block == maxBlocks)
                break;
            blocks_[static_cast<std::size_t>(block)] = work.mid(i - width, width);
            ++block;
        }
    }
    if (block == 1) {
        blocks_[1] = work;
    } else {
        const QString rest = trimSpaces(work.mid(static_cast<qsizetype>(width) * (block - 1)));
        blocks_[static_cast<std::size_t>(block)] = rest;
        if (rest.isEmpty())
            --block;
    }
    blockCount_ = static_cast<std::int16_t>(block);
}

QString CPagerService::FormatWithLF(const QString& message) {
    const QStringList pieces = trimmedPieces(message);
    QString collected;
    for (qsizetype n = 0; n < pieces.size(); ++n) {
        const QString& piece = pieces.at(n);
        const bool last = n == pieces.size() - 1;
        if (collected.isEmpty())
            collected = piece;
        else if (!(last && piece.isEmpty()))
            collected += QChar(10) + piece;
    }
    return collected;
}

QString CPagerService::FormatWithSpaces(int offset, int lineLength, const QString& message) {
    if (lineLength <= 0 || offset > lineLength)
        return message; // no sensible layout: the text goes out as it came
    const QStringList pieces = trimmedPieces(message);
    QString collected;
    for (const QString& piece : pieces) {
        const int len = static_cast<int>(piece.size());
        const int pad = lineLength - len % lineLength;
        if (collected.isEmpty()) {
            QString first;
            if (len > lineLength - offset)
                first.fill(QLatin1Char(' '), lineLength - offset);
            first += piece;
            first += QString(pad, QLatin1Char(' '));
            collected = first;
        } else if (!piece.isEmpty()) {
            collected += piece;
            collected += QString(pad, QLatin1Char(' '));
        }
    }
    return collected;
}

} // namespace tessaly
