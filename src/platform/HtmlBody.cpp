#include "HtmlBody.h"

#include <gumbo.h>

#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr char NoBreakSpace[] = "\xC2\xA0";

// Escaping of the HTML fragment serialisation: attribute values escape the quote, text escapes the
// angle brackets, both escape the ampersand and the no-break space.
void appendEscaped(QByteArray &out, const char *text, bool attributeMode)
{
    for (const char *c = text; *c; ++c) {
        if (*c == '&')
            out += "&amp;";
        else if (c[0] == NoBreakSpace[0] && c[1] == NoBreakSpace[1]) {
            out += "&nbsp;";
            ++c;
        } else if (attributeMode && *c == '"')
            out += "&quot;";
        else if (!attributeMode && *c == '<')
            out += "&lt;";
        else if (!attributeMode && *c == '>')
            out += "&gt;";
        else
            out += *c;
    }
}

bool isHtml(const GumboElement &element, GumboTag tag)
{
    return element.tag == tag && element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

// Elements whose text is kept unescaped. gumbo parses as a browser with scripting off does, so noscript
// holds markup rather than raw text and its text is escaped like any other.
bool keepsRawText(const GumboNode *parent)
{
    if (!parent || (parent->type != GUMBO_NODE_ELEMENT && parent->type != GUMBO_NODE_TEMPLATE))
        return false;
    const GumboElement &element = parent->v.element;
    for (GumboTag tag : {GUMBO_TAG_STYLE, GUMBO_TAG_SCRIPT, GUMBO_TAG_XMP, GUMBO_TAG_IFRAME,
                         GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES, GUMBO_TAG_PLAINTEXT}) {
        if (isHtml(element, tag))
            return true;
    }
    return false;
}

bool isVoid(const GumboElement &element)
{
    for (GumboTag tag : {GUMBO_TAG_AREA, GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_BR,
                         GUMBO_TAG_COL, GUMBO_TAG_EMBED, GUMBO_TAG_FRAME, GUMBO_TAG_HR, GUMBO_TAG_IMG,
                         GUMBO_TAG_INPUT, GUMBO_TAG_KEYGEN, GUMBO_TAG_LINK, GUMBO_TAG_META, GUMBO_TAG_PARAM,
                         GUMBO_TAG_SOURCE, GUMBO_TAG_TRACK, GUMBO_TAG_WBR}) {
        if (isHtml(element, tag))
            return true;
    }
    return false;
}

// The name of a tag gumbo does not know, as the tokenizer reads it from the start tag's text:
// up to white space, "/" or ">", ASCII letters lower-cased, NUL replaced.
QByteArray unknownTagName(const GumboStringPiece &startTag)
{
    QByteArray name;
    if (!startTag.data || startTag.length < 2 || startTag.data[0] != '<')
        return name;
    for (size_t i = 1; i < startTag.length; ++i) {
        const char c = startTag.data[i];
        if (c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ' || c == '/' || c == '>')
            break;
        if (c >= 'A' && c <= 'Z')
            name += char(c - 'A' + 'a');
        else if (c == '\0')
            name += "\xEF\xBF\xBD";
        else
            name += c;
    }
    return name;
}

QByteArray tagName(const GumboElement &element)
{
    QByteArray name = element.tag == GUMBO_TAG_UNKNOWN ? unknownTagName(element.original_tag)
                                                       : QByteArray(gumbo_normalized_tagname(element.tag));
    if (element.tag_namespace == GUMBO_NAMESPACE_SVG) {
        const GumboStringPiece piece{name.constData(), size_t(name.size())};
        if (const char *adjusted = gumbo_normalize_svg_tagname(&piece))
            name = adjusted;
    }
    return name;
}

void appendAttributeName(QByteArray &out, const GumboAttribute &attribute)
{
    switch (attribute.attr_namespace) {
    case GUMBO_ATTR_NAMESPACE_XLINK:
        out += "xlink:";
        break;
    case GUMBO_ATTR_NAMESPACE_XML:
        out += "xml:";
        break;
    case GUMBO_ATTR_NAMESPACE_XMLNS:
        if (qstrcmp(attribute.name, "xmlns") != 0)
            out += "xmlns:";
        break;
    case GUMBO_ATTR_NAMESPACE_NONE:
        break;
    }
    out += attribute.name;
}

void appendStartTag(QByteArray &out, const QByteArray &name, const GumboElement &element)
{
    out += '<' + name;
    for (unsigned int i = 0; i < element.attributes.length; ++i) {
        const auto *attribute = static_cast<const GumboAttribute *>(element.attributes.data[i]);
        out += ' ';
        appendAttributeName(out, *attribute);
        out += "=\"";
        appendEscaped(out, attribute->value, true);
        out += '"';
    }
    out += '>';
}

const GumboVector &childrenOf(const GumboNode *node)
{
    return node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
}

// Iterative, so that a page of deeply nested elements cannot exhaust the stack. False as soon as the
// output has grown past maxBytes.
bool appendChildren(QByteArray &out, const GumboNode *parent, qsizetype maxBytes)
{
    struct Open {
        const GumboNode *node;
        unsigned int next;
        QByteArray endTag;
    };
    std::vector<Open> open{{parent, 0, {}}};
    while (!open.empty()) {
        if (out.size() > maxBytes)
            return false;
        const GumboVector &children = childrenOf(open.back().node);
        if (open.back().next == children.length) {
            out += open.back().endTag;
            open.pop_back();
            continue;
        }
        const auto *node = static_cast<const GumboNode *>(children.data[open.back().next++]);
        switch (node->type) {
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE: {
            const QByteArray name = tagName(node->v.element);
            if (name.isEmpty()) { // no name to give it; its content still belongs to the page
                open.push_back({node, 0, {}});
            } else {
                appendStartTag(out, name, node->v.element);
                if (!isVoid(node->v.element))
                    open.push_back({node, 0, "</" + name + '>'});
            }
            break;
        }
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA: // the parser turns CDATA sections into plain text
            if (keepsRawText(node->parent))
                out += node->v.text.text;
            else
                appendEscaped(out, node->v.text.text, false);
            break;
        case GUMBO_NODE_COMMENT:
            out += "<!--";
            out += node->v.text.text;
            out += "-->";
            break;
        case GUMBO_NODE_DOCUMENT:
            break;
        }
    }
    return out.size() <= maxBytes;
}

// As a browser's document.body: the first child of the root that is a body or a frameset.
const GumboNode *bodyElement(const GumboNode *root)
{
    if (!root || root->type != GUMBO_NODE_ELEMENT)
        return nullptr;
    const GumboVector &children = root->v.element.children;
    for (unsigned int i = 0; i < children.length; ++i) {
        const auto *child = static_cast<const GumboNode *>(children.data[i]);
        if (child->type == GUMBO_NODE_ELEMENT &&
            (isHtml(child->v.element, GUMBO_TAG_BODY) || isHtml(child->v.element, GUMBO_TAG_FRAMESET)))
            return child;
    }
    return nullptr;
}

} // namespace

QString HtmlBody::innerHtml(const QByteArray &utf8Document)
{
    return innerHtml(utf8Document, std::numeric_limits<qsizetype>::max()).value_or(QString());
}

std::optional<QString> HtmlBody::innerHtml(const QByteArray &utf8Document, qsizetype maxBytes)
{
    // gumbo expects valid UTF-8: malformed sequences become U+FFFD, as a browser's decoder makes them.
    QByteArray input = QString::fromUtf8(utf8Document).toUtf8();
    if (input.startsWith("\xEF\xBB\xBF"))
        input.remove(0, 3);

    // Parse errors are of no use here, and gumbo copies the stack of open elements into each one:
    // unlimited, a page of deeply nested tags would take memory by the gigabyte.
    static const GumboOptions options = [] {
        GumboOptions withoutErrors = kGumboDefaultOptions;
        withoutErrors.max_errors = 0;
        return withoutErrors;
    }();
    const std::unique_ptr<GumboOutput, void (*)(GumboOutput *)> output(
        gumbo_parse_with_options(&options, input.constData(), size_t(input.size())), [](GumboOutput *parsed) {
            if (parsed)
                gumbo_destroy_output(&options, parsed);
        });
    if (!output)
        return {};
    const GumboNode *body = bodyElement(output->root);
    if (!body)
        return {};
    QByteArray html;
    if (!appendChildren(html, body, maxBytes))
        return std::nullopt;
    return QString::fromUtf8(html);
}
