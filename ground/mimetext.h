#pragma once
// Readable text out of mail as it arrives: header values with encoded words
// (RFC 2047), MIME bodies with their transfer encodings and character sets
// (RFC 2045, 2046), HTML reduced to its text; and the encodings a sent
// message needs for text beyond ASCII. Pure functions: malformed input gives
// the most readable text they can make, never an error, and every result is
// bounded by the limits below.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tessaly::mimetext {

// Bytes of a message looked at; anything beyond is ignored.
inline constexpr qsizetype kMaxMessageBytes = 16 * 1024 * 1024;
// Bytes of one chosen text part that are decoded.
inline constexpr qsizetype kMaxPartBytes = 2 * 1024 * 1024;
// Characters of body text returned at most.
inline constexpr qsizetype kMaxTextChars = 64 * 1024;
// Bytes of one header value looked at, and characters returned at most.
inline constexpr qsizetype kMaxHeaderBytes = 16 * 1024;
// Multiparts inside multiparts followed, and parts looked at in one message.
inline constexpr int kMaxDepth = 8;
inline constexpr int kMaxParts = 500;

// The bytes behind a text read one byte per character (Latin-1); a text
// holding characters beyond U+00FF gives its UTF-8 bytes instead.
QByteArray RawBytes(const QString& text);

// `bytes` in the character set named `charset`. With no name, an unknown
// one, or a US-ASCII or UTF-8 label the bytes do not fit: UTF-8 when they
// are valid UTF-8, otherwise Windows-1252 (which is also what a Latin-1
// label gets, as its superset).
QString DecodeCharset(QByteArrayView bytes, QByteArrayView charset);

// One header field value (without its name): line breaks unfolded, encoded
// words decoded, bytes outside them read as UTF-8 or Windows-1252, control
// characters turned into blanks. At most kMaxHeaderBytes characters.
QString DecodeHeaderValue(QByteArrayView raw);

// The text of a whole message (header block, blank line, body) to show a
// reader: the first text/plain part that is not an attachment, or failing
// that the first text/html part as text; a message without MIME structure
// gives the text after its header block. Transfer encoding and character
// set decoded, line ends as LF, no other control characters except TAB, at
// most kMaxTextChars characters.
QString BodyText(QByteArrayView message);

// HTML as plain text: tags, comments, scripts and styles dropped, entities
// decoded, white space collapsed to single blanks, and a line break where a
// line or block element (br, p, div, li, tr, headings) ends one.
QString HtmlToText(QStringView html);

// Content-Transfer-Encoding decoders; both skip what does not belong.
QByteArray DecodeQuotedPrintable(QByteArrayView data);
QByteArray DecodeBase64(QByteArrayView data);

// Quoted-printable with CR LF line ends and lines of at most 76 characters.
QByteArray EncodeQuotedPrintable(QByteArrayView data);
// A header value for sending: printable ASCII as it is, anything else as
// UTF-8 "B" encoded words, folded onto continuation lines.
QByteArray EncodeHeaderValue(const QString& text);

} // namespace tessaly::mimetext
