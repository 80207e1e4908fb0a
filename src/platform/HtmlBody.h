#pragma once

#include <QByteArray>
#include <QString>

namespace HtmlBody {
/// Parses an HTML document as a browser does (gumbo) and returns the body element's inner HTML,
/// serialised as a browser's innerHTML property gives it. A document without a body gives "".
QString innerHtml(const QByteArray &utf8Document);
} // namespace HtmlBody
