#include "features/mail/mailprint.h"

namespace tessaly {

QStringList MailPrintHeader(const QString& from, const QString& date, const QString& subject) {
    return {QStringLiteral("   From: ") + from, QStringLiteral("   Date: ") + date,
            QStringLiteral("Subject: ") + subject, QString(80, QLatin1Char('-'))};
}

QStringList MailBodyLines(const QString& body) {
    QString text = body;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

std::vector<PrintedLine> LayoutMailPrint(const QStringList& header, const QStringList& body,
                                         const MailPrintPage& page) {
    std::vector<PrintedLine> out;
    int pageNo = 1;
    double y = kMailPrintTopMargin;
    bool breakPending = false;
    auto place = [&](const QString& text) {
        if (breakPending) {
            ++pageNo;
            y = kMailPrintTopMargin;
            breakPending = false;
        }
        out.push_back({pageNo, y, text});
        y += page.lineHeight;
        // The page is only started when another line follows.
        if (page.printableHeight - y < kMailPrintBottomReserve)
            breakPending = true;
    };
    auto placeWrapped = [&](const QString& line) {
        if (page.maxColumns <= 0 || line.size() <= page.maxColumns) {
            place(line);
            return;
        }
        for (qsizetype i = 0; i < line.size(); i += page.maxColumns)
            place(line.mid(i, page.maxColumns));
    };
    for (const QString& line : header)
        placeWrapped(line);
    for (const QString& line : body)
        placeWrapped(line);
    return out;
}

} // namespace tessaly
