#include "PageFetcher.h"

#include "HtmlBody.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>

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

// A byte order mark wins, then the charset the server names, then UTF-8; malformed bytes become U+FFFD.
QByteArray bodyAsUtf8(const QByteArray &bytes, const QByteArray &contentType)
{
    auto encoding = QStringConverter::encodingForData(bytes);
    if (!encoding)
        encoding = charsetEncoding(contentType);
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    const QString text = decoder.decode(bytes);
    return text.toUtf8();
}

} // namespace

PageFetcher::PageFetcher(QObject *parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)), m_timer(new QTimer(this))
{
    // Each lookup must reach the page's own server: no application-wide proxy, no cache, no cookies.
    m_network->setProxy(QNetworkProxy::NoProxy);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { complete(true); });
}

void PageFetcher::Navigate(const QUrl &url)
{
    if (m_reply) {
        // Forget the old fetch before aborting it: abort() reports finished() at once.
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_timer->stop();
    m_requested = url;
    m_received.clear();

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);

    m_reply = m_network->get(request);
    // Backpressure: the network layer stops reading once it holds more than we would accept.
    m_reply->setReadBufferSize(m_maxBodyBytes + 1);
    connect(m_reply, &QNetworkReply::readyRead, this, &PageFetcher::readBody);
    connect(m_reply, &QNetworkReply::finished, this, &PageFetcher::replyFinished);
    if (m_timeoutMs > 0)
        m_timer->start(m_timeoutMs);
}

void PageFetcher::readBody()
{
    m_received += m_reply->readAll();
    if (m_received.size() > m_maxBodyBytes)
        complete(true);
}

void PageFetcher::replyFinished()
{
    m_received += m_reply->readAll();
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A final 3xx (a redirect not followed) carries no page either.
    const bool badStatus = status.isValid() && (status.toInt() < 200 || status.toInt() > 299);
    complete(m_reply->error() != QNetworkReply::NoError || badStatus || m_received.size() > m_maxBodyBytes);
}

void PageFetcher::complete(bool failed)
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    m_timer->stop();
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();

    m_failed = failed;
    m_location = failed ? m_requested : reply->url();
    m_body =
        failed ? QString() : HtmlBody::innerHtml(bodyAsUtf8(m_received, reply->rawHeader("Content-Type")));
    m_received.clear();
    // Last, with the fetcher idle: the receiver may Navigate again from here.
    emit DownloadComplete();
}
