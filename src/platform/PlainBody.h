#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace PlainBody {
/// The body's inner HTML of a page that holds no markup at all, as the HTML parser would give it,
/// worked out without the parser: the text after its leading white space, with '>' escaped.
/// Nothing unless the page is printable ASCII, tabs, line feeds and form feeds without '<' or '&';
/// only the parser can tell then.
/// Most address pages are such plain text, and they then need no parser process at all.
std::optional<QString> innerHtml(const QByteArray &utf8Document);
} // namespace PlainBody
