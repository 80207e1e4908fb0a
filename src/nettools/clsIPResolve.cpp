#include "clsIPResolve.h"

#include "NettoolsLog.h"

#include <QList>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace {
constexpr qsizetype MaxNameLength = 255;

/// A part of a dotted address as a number from 0 to 255, blanks around it allowed.
std::optional<int> addressPart(const QString &part)
{
    const QString digits = part.trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    for (const QChar ch : digits) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const int value = digits.toInt(&ok);
    if (!ok || value > 255)
        return std::nullopt;
    return value;
}

/// Typed text as a log shows it: cut short when long.
QString shown(const QString &text)
{
    constexpr qsizetype MaxShown = 80;
    return text.size() > MaxShown ? text.left(MaxShown) + QStringLiteral("...") : text;
}

QString lookupError(int code)
{
    if (code == 0)
        return QStringLiteral("the resolver gave no entry");
#ifdef Q_OS_WIN
    return QStringLiteral("resolver error %1").arg(code);
#else
    if (code == EAI_SYSTEM)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromLocal8Bit(gai_strerror(code));
#endif
}
} // namespace

clsIPResolve::clsIPResolve()
{
#ifdef Q_OS_WIN
    WSADATA data;
    blnWinsockReady = WSAStartup(MAKEWORD(2, 2), &data) == 0;
#endif
}

clsIPResolve::~clsIPResolve()
{
#ifdef Q_OS_WIN
    if (blnWinsockReady)
        WSACleanup();
#endif
}

QString clsIPResolve::AddressToName(const QString &address) const
{
    if (!blnWinsockReady)
        return {};
    return LookupNameByAddress(address);
}

QString clsIPResolve::NameToAddress(const QString &name) const
{
    if (!blnWinsockReady)
        return {};
    return LookupAddressByName(name);
}

bool clsIPResolve::IsDottedAddress(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() < 4)
        return false;
    for (const QString &part : parts) {
        if (!addressPart(part))
            return false;
    }
    return true;
}

std::optional<qint32> clsIPResolve::DottedToLong(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    QList<int> values;
    for (const QString &part : parts) {
        const auto value = addressPart(part);
        if (!value)
            return std::nullopt;
        values.append(*value);
    }
    qint64 sum = 0;
    qint64 weight = 1;
    for (qsizetype i = 0; i + 1 < values.size(); ++i, weight *= 256)
        sum += values.at(i) * weight;
    // The last part goes in as a signed byte so that four parts always fit a signed 32-bit value.
    const int last = values.last() >= 128 ? values.last() - 256 : values.last();
    sum += qint64(last) * 16777216;
    // Only more than four parts can leave the range; such text has no address to look up.
    if (sum < std::numeric_limits<qint32>::min() || sum > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(sum);
}

QString clsIPResolve::TrimAtNul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

QString clsIPResolve::LookupNameByAddress(const QString &text) const
{
    const auto value = IsDottedAddress(text) ? DottedToLong(text) : std::nullopt;
    if (!value) {
        qCWarning(lcNettools) << "no name looked up for" << shown(text) << "- not a dotted IPv4 address";
        return {};
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    const qint32 inMemoryOrder = qToLittleEndian(*value);
    std::memcpy(&address.sin_addr, &inMemoryOrder, sizeof inMemoryOrder);

    char name[NI_MAXHOST] = {};
    const int failure = getnameinfo(reinterpret_cast<const sockaddr *>(&address), sizeof address, name,
                                    sizeof name, nullptr, 0, NI_NAMEREQD);
    if (failure != 0) {
        qCWarning(lcNettools) << "no name for" << shown(text) << "-" << lookupError(failure);
        return {};
    }
    return TrimAtNul(QString::fromLatin1(name, qsizetype(strnlen(name, MaxNameLength))));
}

QString clsIPResolve::LookupAddressByName(const QString &text) const
{
    // The name goes to the resolver as typed, as 8-bit text; text that cannot be written that way
    // (or that a NUL would cut short) names nothing.
    const bool eightBit =
        std::all_of(text.cbegin(), text.cend(), [](QChar ch) { return ch.unicode() <= 0xFF; });
    if (!eightBit || text.contains(QChar(0))) {
        qCWarning(lcNettools) << "no address looked up for" << shown(text) << "- not 8-bit text without NUL";
        return {};
    }
    const QByteArray name = text.toLatin1();

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int failure = getaddrinfo(name.constData(), nullptr, &hints, &found);
    if (failure != 0 || !found) {
        qCWarning(lcNettools) << "no address for" << shown(text) << "-" << lookupError(failure);
        return {};
    }
    QString result;
    if (found->ai_family == AF_INET && found->ai_addr && found->ai_addrlen >= sizeof(sockaddr_in)) {
        const auto *address = reinterpret_cast<const sockaddr_in *>(found->ai_addr);
        unsigned char bytes[4];
        std::memcpy(bytes, &address->sin_addr, sizeof bytes);
        QStringList parts;
        for (const unsigned char byte : bytes)
            parts << QString::number(byte);
        result = parts.join(QLatin1Char('.'));
    }
    freeaddrinfo(found);
    if (result.isEmpty())
        qCWarning(lcNettools) << "no address for" << shown(text) << "- the answer holds no IPv4 address";
    return result;
}
