#include "PageFetcher.h"

#include "LookupLog.h"
#include "Orphans.h"
#include "PageBody.h"
#include "PlainBody.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <array>
#include <limits>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

PageFetcher::PageFetcher(QObject *parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)), m_timer(new QTimer(this)),
      m_parseTimer(new QTimer(this)),
      m_parserProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/netquill-htmlbody"))
{
    // Each lookup must reach the page's own server: no application-wide proxy, no cache, no cookies.
    m_network->setProxy(QNetworkProxy::NoProxy);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("no answer within %1 s").arg(m_timeoutMs / 1000.0)); });
    m_parseTimer->setSingleShot(true);
    connect(m_parseTimer, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("the parser took longer than %1 ms").arg(m_parseTimeMs)); });
}

bool PageFetcher::IsCutOff(const QByteArray &contentLength, bool encoded, qint64 received)
{
    // A compressed body is announced before Qt inflates it, so its length cannot be checked here.
    if (encoded || contentLength.isNull())
        return false;
    bool ok = false;
    const qint64 announced = contentLength.trimmed().toLongLong(&ok);
    return !ok || announced != received;
}

void PageFetcher::setParser(const QString &program, const QStringList &arguments)
{
    m_parserProgram = program;
    m_parserArguments = arguments;
}

void PageFetcher::setParseLimits(int milliseconds, qint64 memoryBytes)
{
    m_parseTimeMs = milliseconds;
    m_parseMemoryBytes = memoryBytes;
}

qint64 PageFetcher::bodyLimit() const
{
    return m_mode == Body::PlainText ? std::min(m_maxBodyBytes, MaxPlainTextBytes) : m_maxBodyBytes;
}

void PageFetcher::Navigate(const QUrl &url, Body body)
{
    dropReply();
    stopParser();
    m_timer->stop();
    m_requested = url;
    m_clock.start();
    m_status = 0;
    m_retryAfter = -1;
    m_mode = body;
    m_received.clear();
    m_why.clear();

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // A service's answer is only its own when it comes from the address asked for: its redirects are
    // judged one by one. The product's page is judged by where it ends up.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         body == Body::PlainText ? QNetworkRequest::UserVerifiedRedirectPolicy
                                                 : QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    m_hop = url;

    m_reply = m_network->get(request);
    if (body == Body::PlainText)
        connect(m_reply, &QNetworkReply::redirected, this, &PageFetcher::redirected);
    // Backpressure: the network layer stops reading once it holds more than we would accept.
    m_reply->setReadBufferSize(bodyLimit() + 1);
    connect(m_reply, &QNetworkReply::readyRead, this, &PageFetcher::readBody);
    connect(m_reply, &QNetworkReply::finished, this, &PageFetcher::replyFinished);
    if (m_timeoutMs > 0)
        m_timer->start(m_timeoutMs);
}

void PageFetcher::readBody()
{
    m_received += m_reply->readAll();
    if (m_received.size() > bodyLimit())
        fail(QStringLiteral("the page is longer than %1 bytes").arg(bodyLimit()));
}

bool PageFetcher::IsUpgrade(const QUrl &from, const QUrl &to)
{
    if (from.scheme() != QLatin1String("http") || to.scheme() != QLatin1String("https"))
        return false;
    const int fromPort = from.port(80);
    const int toPort = to.port(443);
    if (toPort != fromPort && !(fromPort == 80 && toPort == 443))
        return false;
    // What is left must match as sent: "http://h" asks for "/" as "https://h/" does.
    const auto request = [](const QUrl &url) {
        QUrl sent = url.adjusted(QUrl::RemoveScheme | QUrl::RemovePort | QUrl::RemoveFragment);
        if (sent.path().isEmpty())
            sent.setPath(QStringLiteral("/"));
        return sent.toEncoded();
    };
    return request(from) == request(to);
}

void PageFetcher::redirected(const QUrl &target)
{
    const QUrl next = m_hop.resolved(target);
    if (!IsUpgrade(m_hop, next)) {
        fail(QStringLiteral("redirected to another address: ") + next.toDisplayString());
        return;
    }
    m_hop = next;
    emit m_reply->redirectAllowed();
}

void PageFetcher::replyFinished()
{
    m_received += m_reply->readAll();
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A final 3xx (a redirect not followed) carries no page either.
    const bool badStatus = status.isValid() && (status.toInt() < 200 || status.toInt() > 299);
    // An error status is an error of the reply too: the status says more.
    m_status = status.toInt();
    if (badStatus) {
        // A service that is busy or rate-limits says when to ask again.
        if (m_status == 429 || m_status == 503)
            m_retryAfter = RetryAfter(m_reply->rawHeader("Retry-After"), QDateTime::currentDateTimeUtc());
        fail(m_retryAfter < 0
                 ? QStringLiteral("HTTP status %1").arg(m_status)
                 : QStringLiteral("HTTP status %1, asked to wait %2 s").arg(m_status).arg(m_retryAfter));
        return;
    }
    if (m_reply->error() != QNetworkReply::NoError) {
        fail(m_reply->error() == QNetworkReply::ConnectionRefusedError ? QStringLiteral("connection refused")
                                                                       : m_reply->errorString());
        return;
    }
    if (m_received.size() > bodyLimit()) {
        fail(QStringLiteral("the page is longer than %1 bytes").arg(bodyLimit()));
        return;
    }
    if (IsCutOff(m_reply->rawHeader("Content-Length"), m_reply->hasRawHeader("Content-Encoding"),
                 m_received.size())) {
        fail(QStringLiteral("the page is shorter than its Content-Length"));
        return;
    }
    m_finalUrl = m_reply->url();
    const QByteArray document = PageBody::asUtf8(m_received, m_reply->rawHeader("Content-Type"));
    m_received.clear();
    if (m_mode == Body::PlainText) {
        complete(false, QString::fromUtf8(document));
        return;
    }
    if (const std::optional<QString> plain = PlainBody::innerHtml(document)) {
        complete(false, *plain);
        return;
    }
    dropReply();
    parse(document);
}

void PageFetcher::parse(const QByteArray &utf8Document)
{
    m_parsed.clear();
    m_parser = new QProcess(this);
    Orphans::own(m_parser);
    m_parser->setStandardErrorFile(QProcess::nullDevice());
#ifdef Q_OS_UNIX
    const rlim_t memory = rlim_t(m_parseMemoryBytes);
    m_parser->setChildProcessModifier([memory] {
        const rlimit limit{memory, memory};
        setrlimit(RLIMIT_AS, &limit);
    });
#endif
    connect(m_parser, &QProcess::readyReadStandardOutput, this, [this] {
        m_parsed += m_parser->readAllStandardOutput();
        // Stopped at once: the parser can write far more than it was given.
        if (m_parsed.size() > m_maxBodyBytes)
            fail(QStringLiteral("the parsed body is longer than %1 bytes").arg(m_maxBodyBytes));
    });
    connect(m_parser, &QProcess::finished, this, &PageFetcher::parseFinished);
    connect(m_parser, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            fail(QStringLiteral("the parser %1 did not start: %2")
                     .arg(m_parserProgram, m_parser->errorString()));
    });
    // The parser stops on its own past the bound; the output is checked here all the same.
    m_parser->start(m_parserProgram,
                    m_parserArguments + QStringList{QStringLiteral("--max-bytes=%1").arg(m_maxBodyBytes)});
    if (!m_parser)
        return; // failed to start and already completed
    m_parser->write(utf8Document);
    m_parser->closeWriteChannel();
    m_parseTimer->start(m_parseTimeMs);
}

void PageFetcher::parseFinished()
{
    m_parsed += m_parser->readAllStandardOutput();
    if (m_parser->exitStatus() != QProcess::NormalExit) {
        fail(QStringLiteral("the parser crashed or was stopped (out of memory?)"));
        return;
    }
    if (m_parser->exitCode() == ParserOverBound) {
        fail(QStringLiteral("the parsed body is longer than %1 bytes").arg(m_maxBodyBytes));
        return;
    }
    if (m_parser->exitCode() != 0) {
        fail(QStringLiteral("the parser ended with status %1").arg(m_parser->exitCode()));
        return;
    }
    complete(false, QString::fromUtf8(m_parsed));
}

void PageFetcher::Stop()
{
    dropReply();
    stopParser();
    m_timer->stop();
}

void PageFetcher::dropReply()
{
    if (!m_reply)
        return;
    // Forget the fetch before aborting it: abort() reports finished() at once.
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();
}

void PageFetcher::stopParser()
{
    m_parseTimer->stop();
    if (!m_parser)
        return;
    QProcess *parser = m_parser;
    m_parser = nullptr;
    disconnect(parser, nullptr, this, nullptr);
    if (parser->state() == QProcess::NotRunning) {
        parser->deleteLater();
        return;
    }
    // Deleted once reaped, so that no stopped parser is left behind as a zombie.
    connect(parser, &QProcess::finished, parser, &QObject::deleteLater);
    parser->kill();
}

namespace {
// The three forms of an HTTP date: the preferred one, the obsolete RFC 850 one with its two-digit year,
// and asctime's. "UTC" is taken for "GMT", as some servers write it.
QDateTime httpDate(const QString &text, const QDateTime &now)
{
    static const QString time = QStringLiteral(R"((?<h>\d{2}):(?<m>\d{2}):(?<s>\d{2}))");
    static const std::array<QRegularExpression, 3> forms{
        QRegularExpression(QStringLiteral(R"(^[A-Z][a-z]{2}, (?<d>\d{2}) (?<M>[A-Z][a-z]{2}) (?<y>\d{4}) )") +
                           time + QStringLiteral(" (?:GMT|UTC)$")),
        QRegularExpression(
            QStringLiteral(R"(^[A-Z][a-z]{5,8}, (?<d>\d{2})-(?<M>[A-Z][a-z]{2})-(?<y>\d{2}) )") + time +
            QStringLiteral(" (?:GMT|UTC)$")),
        QRegularExpression(QStringLiteral(R"(^[A-Z][a-z]{2} (?<M>[A-Z][a-z]{2}) (?<d>[ \d]\d) )") + time +
                           QStringLiteral(R"( (?<y>\d{4})$)"))};
    static const QStringList months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    QRegularExpressionMatch match;
    for (const QRegularExpression &form : forms) {
        match = form.match(text);
        if (match.hasMatch())
            break;
    }
    if (!match.hasMatch())
        return {};
    const auto number = [&](QStringView name) { return match.capturedView(name).trimmed().toInt(); };
    int year = number(u"y");
    if (match.capturedLength(u"y") == 2) {
        // A year that would be more than 50 years ahead is the last past one ending in those digits.
        year += now.date().year() - now.date().year() % 100;
        if (year > now.date().year() + 50)
            year -= 100;
    }
    const QDate date(year, int(months.indexOf(match.captured(u"M"))) + 1, number(u"d"));
    const QTime clock(number(u"h"), number(u"m"), number(u"s"));
    return date.isValid() && clock.isValid() ? QDateTime(date, clock, Qt::UTC) : QDateTime();
}
} // namespace

qint64 PageFetcher::RetryAfter(const QByteArray &value, const QDateTime &now)
{
    const QByteArray text = value.trimmed();
    if (!text.isEmpty() &&
        std::all_of(text.cbegin(), text.cend(), [](char c) { return c >= '0' && c <= '9'; })) {
        bool number = false;
        const qint64 seconds = text.toLongLong(&number);
        // Too many seconds to count is still a long pause; the caller bounds it.
        return number ? seconds : std::numeric_limits<qint64>::max();
    }
    if (text.isEmpty() || text.size() > 64)
        return -1;
    QDateTime when = httpDate(QString::fromLatin1(text), now);
    // A numeric zone ("+0000") is no HTTP date, but some servers send one.
    if (!when.isValid())
        when = QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);
    return when.isValid() ? std::max<qint64>(0, now.secsTo(when)) : -1;
}

void PageFetcher::fail(const QString &cause)
{
    if (!Busy())
        return;
    qCWarning(lcLookup).noquote() << "fetch of" << m_requested.toDisplayString() << "failed:" << cause;
    m_why = cause;
    complete(true);
}

void PageFetcher::complete(bool failed, const QString &body)
{
    if (!Busy())
        return;
    // The page is bounded, and so is what is made of it: markup the parser completes, or '>' written
    // out as "&gt;", can be several times the page.
    if (!failed && body.size() > m_maxBodyBytes) {
        fail(QStringLiteral("the body is longer than %1 characters").arg(m_maxBodyBytes));
        return;
    }
    m_timer->stop();
    dropReply();
    stopParser();
    m_last = {m_requested,
              failed ? m_requested : m_finalUrl,
              failed ? QString() : body,
              failed,
              !failed           ? QString()
              : m_why.isEmpty() ? QStringLiteral("the page could not be read")
                                : m_why,
              m_clock.elapsed(),
              m_status,
              m_retryAfter};
    m_why.clear();
    m_received.clear();
    m_parsed.clear();
    // Last, with the fetcher idle: the receiver may Navigate again from here.
    emit DownloadComplete(m_last);
}
