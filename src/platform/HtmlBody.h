#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace HtmlBody {
/// Parses an HTML document as a browser does (gumbo) and returns the body element's inner HTML,
/// serialised as a browser's innerHTML property gives it. A document without a body gives "".
/// Malformed UTF-8 is read as U+FFFD. Parsing time grows with the square of the nesting depth,
/// so callers bound what they pass (PageFetcher: 64 KiB by default).
QString innerHtml(const QByteArray &utf8Document);
/// innerHtml(), or nothing once its UTF-8 form grows past maxBytes: nested markup that the parser
/// completes can come out several times the size of the page.
std::optional<QString> innerHtml(const QByteArray &utf8Document, qsizetype maxBytes);
} // namespace HtmlBody
