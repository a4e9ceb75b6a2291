#pragma once
// Where each line of a printed message goes: the four header lines, a rule
// of 80 dashes and the body line by line from 1 inch below the top of the
// printable area, a new page whenever less than 1 inch is left below the
// print position. Lengths are in inches; the window draws the result.

#include <QString>
#include <QStringList>
#include <vector>

namespace tessaly {

struct MailPrintPage {
    double printableHeight = 0; // height of the printer's printable area
    double lineHeight = 0;      // one line of the print font
    int maxColumns = 0;         // characters that fit a line; 0: no limit
};

struct PrintedLine {
    int page = 1;   // 1-based
    double top = 0; // top of the line, from the top of the printable area
    QString text;
};

constexpr double kMailPrintLeftMargin = 0.5;
constexpr double kMailPrintTopMargin = 1.0;
constexpr double kMailPrintBottomReserve = 1.0;

// "   From: ...", "   Date: ...", "Subject: ..." and the rule.
QStringList MailPrintHeader(const QString& from, const QString& date, const QString& subject);
// The body's lines: lines end with CR LF (a lone CR or LF also ends one);
// a last line without an end is kept, an empty one after the last end is not.
QStringList MailBodyLines(const QString& body);
// Places the header and body lines on pages. Lines longer than
// `maxColumns` continue on the next line rather than run off the paper.
std::vector<PrintedLine> LayoutMailPrint(const QStringList& header, const QStringList& body, const MailPrintPage& page);

} // namespace tessaly
