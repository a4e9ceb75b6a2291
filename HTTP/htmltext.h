#pragma once
// The text work of CHTTP: tag stripping, marker cuts, and reading the
// status code, redirect target and Last-Modified date out of a response
// header. Pure functions on texts.

#include <QString>

namespace webwire::text {

// The text runs between tags, CR, LF and TAB removed, each preceded by a
// TAB when `tabs` is set (Strip_HTML) or run together (Strip_All_HTML).
QString StripHtml(const QString& buffer, bool tabs);
// See CHTTP::RemoveStringBetween.
QString RemoveStringBetween(const QString& start, const QString& end, const QString& text, bool exclusive,
                            bool removeAll);
// The value of a header field up to the next CR, untrimmed; `label`
// (e.g. "Last-Modified:") is found without regard to case. Empty when absent.
QString HeaderField(const QString& header, const QString& label);
// The date part of the Last-Modified field: the text before "GMT", after
// its first comma when there is one. Empty when absent or not in GMT.
QString LastModifiedDate(const QString& header);
// "200" from "HTTP/1.0 200 OK": the second word of the first line; empty
// when the header has no CR or the line no blank.
QString StatusCode(const QString& header);
// The value of "Location: " (exact label), trimmed; empty when absent.
QString LocationValue(const QString& header);
// Echoed traffic with its line breaks made CR LF: a CR without LF gets one
// (and a text then starting with LF gets a CR in front), then every LF
// without a CR before it gets one, searching from the third character.
QString NormaliseLineBreaks(const QString& data);

} // namespace webwire::text
