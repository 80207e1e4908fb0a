#include "SmtpMessage.h"

#include "SmtpSession.h"

#include <QStringList>

namespace {
const QString CrLf = QStringLiteral("\r\n");
}

QString SmtpMessage::Header(const QString &sender, const QString &recipient, const QString &programName)
{
    const QStringList lines = {
        QLatin1String("From: <") + sender + QLatin1String(">"),
        QLatin1String("To: ") + recipient,
        QLatin1String("Subject: ") + programName + QLatin1String(" - Notification of IP Address Change"),
        QLatin1String("X-Mailer: ") + programName,
        QStringLiteral("Mime-Version: 1.0"),
        QStringLiteral("Content-Type: text/plain;charset=us-ascii"),
        QString(),
    };
    return lines.join(CrLf) + CrLf;
}

QString SmtpMessage::Body(const SmtpMessageInputs &in)
{
    const QStringList lines = {
        QLatin1String("This message is an automatic notification by ") + in.programName +
            QLatin1String(" that your IP Address has changed to the following:"),
        QString(),
        QLatin1String("External IP Address: ") + in.externalAddress,
        QLatin1String("Internal IP Address: ") + in.internalAddress,
        QString(),
        QStringLiteral("Thank you,"),
        QString(),
        in.programName + QLatin1String(" by ") + in.company,
        QLatin1String("http://www.") + in.website,
    };
    return lines.join(CrLf);
}

QString SmtpMessage::ToTransparentText(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16 + 2);
    bool lineStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch == u'\r' || ch == u'\n') {
            if (ch == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
            out += CrLf;
            lineStart = true;
            continue;
        }
        if (lineStart && ch == u'.')
            out += u'.';
        out += ch;
        lineStart = false;
    }
    return out;
}

bool SmtpMessage::HasControlCharacter(const QString &text)
{
    for (const QChar ch : text) {
        if (ch.category() == QChar::Other_Control || ch == QChar::LineSeparator ||
            ch == QChar::ParagraphSeparator)
            return true;
    }
    return false;
}
