#include "SettingsFileFormat.h"

#include <QIODevice>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>
#include <string_view>

namespace {
// The escapes QSettings writes; the last two it only reads.
constexpr std::u16string_view Named = u"abfnrtv\"\\?'";
constexpr std::u16string_view Meaning = u"\a\b\f\n\r\t\v\"\\?'";
constexpr qsizetype WrittenNames = 9;

int digitValue(char16_t ch, int base)
{
    int value = -1;
    if (ch >= u'0' && ch <= u'9')
        value = ch - u'0';
    else if (ch >= u'a' && ch <= u'f')
        value = ch - u'a' + 10;
    else if (ch >= u'A' && ch <= u'F')
        value = ch - u'A' + 10;
    return value < base ? value : -1;
}

QString decodedLine(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// Keys and section names as QSettings escapes them: '\' for '/', %XX and %UXXXX for other characters.
QString unescapedKey(QStringView text)
{
    QString key;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\') {
            key += u'/';
            continue;
        }
        if (text[i] == u'%') {
            const bool wide = i + 1 < text.size() && text[i + 1] == u'U';
            const qsizetype from = i + (wide ? 2 : 1), to = from + (wide ? 4 : 2);
            char16_t code = 0;
            qsizetype j = from;
            for (int d; j < to && j < text.size() && (d = digitValue(text[j].unicode(), 16)) >= 0; ++j)
                code = char16_t(code * 16 + d);
            if (j == to) {
                key += QChar(code);
                i = to - 1;
                continue;
            }
        }
        key += text[i];
    }
    return key;
}

// Keys as QSettings itself spells them: no slash at either end, none doubled. A typed file may hold
// others (a section "[\]", a key "\key"), which the writer could not give back as they were read.
QString normalizedKey(const QString &key)
{
    return key.split(u'/', Qt::SkipEmptyParts).join(u'/');
}

QByteArray escapedKey(QStringView key)
{
    QByteArray out;
    for (const QChar ch : key) {
        const char16_t c = ch.unicode();
        if (c == u'/')
            out += '\\';
        else if ((c < 0x80 && ch.isLetterOrNumber()) || c == u'_' || c == u'-' || c == u'.')
            out += char(c);
        else
            out += (c <= 0xFF ? "%" : "%U") +
                   QByteArray::number(c, 16).toUpper().rightJustified(c <= 0xFF ? 2 : 4, '0');
    }
    return out;
}

// Undoes QSettings' quoting and escapes. What its writer never emits (a bare '"', ',' or ';', an
// unknown escape) can only have been typed by a user, and stays as typed.
QString unescapedValue(QStringView text)
{
    if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"')
        text = text.sliced(1, text.size() - 2);
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\' || i + 1 == text.size()) {
            result += text[i];
            continue;
        }
        const char16_t next = text[i + 1].unicode();
        if (const auto named = Named.find(next); named != Named.npos) {
            result += QChar(Meaning[named]);
            ++i;
            continue;
        }
        // \x<hex> or \<octal>, taking every digit that follows, as QSettings does.
        const int base = next == u'x' ? 16 : 8;
        const qsizetype first = i + (base == 16 ? 2 : 1);
        qsizetype j = first;
        char16_t code = 0;
        for (int d; j < text.size() && (d = digitValue(text[j].unicode(), base)) >= 0; ++j)
            code = char16_t(code * base + d);
        if (j == first) {
            result += text[i];
            continue;
        }
        result += QChar(code);
        i = j - 1;
    }
    // QSettings doubles a leading '@' and wraps a text holding NUL in @String(...).
    if (result.startsWith(u"@@"))
        result.remove(0, 1);
    else if (result.startsWith(u"@String(") && result.endsWith(u')'))
        result = result.sliced(8).chopped(1);
    return result;
}

// The escaping of QSettings' INI writer, so that QSettings itself (and earlier builds) read it too.
QByteArray escapedValue(QString text)
{
    if (text.startsWith(u'@'))
        text.prepend(u'@');
    QStringEncoder utf8(QStringEncoder::Utf8);
    QByteArray out;
    bool quote = false;
    bool digitWouldJoin = false; // after \0 or \x, a hex digit would be read as part of the escape
    for (const QChar ch : std::as_const(text)) {
        const char16_t c = ch.unicode();
        quote = quote || c == u';' || c == u',' || c == u'=';
        if (digitWouldJoin && digitValue(c, 16) >= 0) {
            out += "\\x" + QByteArray::number(c, 16);
            continue;
        }
        digitWouldJoin = false;
        if (const auto named = Meaning.substr(0, WrittenNames).find(c); named != Meaning.npos) {
            out += '\\';
            out += char(Named[named]);
        } else if (c < 0x20) {
            out += c == 0 ? QByteArray("\\0") : "\\x" + QByteArray::number(c, 16);
            digitWouldJoin = true;
        } else {
            out += QByteArray(utf8(QStringView(&ch, 1))); // the encoder pairs split surrogates
        }
    }
    if (quote || out.startsWith(' ') || out.endsWith(' '))
        out = '"' + out + '"';
    return out;
}
} // namespace

QSettings::SettingsMap SettingsFileFormat::parse(QByteArrayView data)
{
    QSettings::SettingsMap map;
    if (data.startsWith("\xef\xbb\xbf"))
        data = data.sliced(3);
    QString prefix;
    qsizetype start = 0;
    for (qsizetype end = 0; end <= data.size(); ++end) {
        if (end < data.size() && data[end] != '\n' && data[end] != '\r')
            continue;
        const QString line = decodedLine(data.sliced(start, end - start));
        start = end + 1;
        const QStringView trimmed = QStringView(line).trimmed();
        const qsizetype equals = line.indexOf(u'=');
        if (trimmed.startsWith(u'[')) {
            const qsizetype close = trimmed.indexOf(u']');
            const QStringView name = trimmed.first(close < 0 ? trimmed.size() : close).sliced(1).trimmed();
            if (name.isEmpty() || name.compare(u"General", Qt::CaseInsensitive) == 0)
                prefix.clear();
            else if (name.compare(u"%General", Qt::CaseInsensitive) == 0)
                prefix = name.sliced(1).toString() + u'/';
            else
                prefix = unescapedKey(name) + u'/';
        } else if (equals >= 0 && !trimmed.startsWith(u';') && !trimmed.startsWith(u'#')) {
            const QString key = normalizedKey(unescapedKey(QStringView(line).first(equals).trimmed()));
            if (!key.isEmpty())
                map.insert(normalizedKey(prefix + key), unescapedValue(QStringView(line).sliced(equals + 1)));
        }
    }
    return map;
}

QByteArray SettingsFileFormat::serialized(const QSettings::SettingsMap &map)
{
    QMap<QString, QByteArray> sections; // section name -> its key lines
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        const QByteArray line =
            escapedKey(QStringView(it.key()).sliced(slash + 1)) + '=' + escapedValue(it.value().toString());
        sections[it.key().first(qMax<qsizetype>(slash, 0))] += line + '\n';
    }
    QByteArray out;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        const QByteArray name = it.key().isEmpty() ? QByteArray("General")
                                : it.key().compare(u"General", Qt::CaseInsensitive) == 0
                                    ? QByteArray("%General")
                                    : escapedKey(it.key());
        out += (out.isEmpty() ? "[" : "\n[") + name + "]\n" + it.value();
    }
    return out;
}

bool SettingsFileFormat::read(QIODevice &device, QSettings::SettingsMap &map)
{
    map.insert(parse(device.readAll()));
    return true;
}

bool SettingsFileFormat::write(QIODevice &device, const QSettings::SettingsMap &map)
{
    const QByteArray out = serialized(map);
    return device.write(out) == out.size();
}
