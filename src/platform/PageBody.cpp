#include "PageBody.h"

#include <QList>
#include <QStringDecoder>

#include <optional>

namespace {

std::optional<QStringConverter::Encoding> charsetEncoding(const QByteArray &contentType)
{
    for (const QByteArray &parameter : contentType.split(';')) {
        const QByteArray trimmed = parameter.trimmed();
        if (!trimmed.toLower().startsWith("charset="))
            continue;
        QByteArray name = trimmed.mid(8).trimmed();
        if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"'))
            name = name.mid(1, name.size() - 2);
        const auto encoding = QStringConverter::encodingForName(name.constData());
        // "System" would make the result depend on this computer's locale.
        if (encoding && *encoding != QStringConverter::System)
            return encoding;
    }
    return std::nullopt;
}

} // namespace

QByteArray PageBody::asUtf8(const QByteArray &bytes, const QByteArray &contentType)
{
    auto encoding = QStringConverter::encodingForData(bytes);
    if (!encoding)
        encoding = charsetEncoding(contentType);
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    const QString text = decoder.decode(bytes);
    return text.toUtf8();
}
