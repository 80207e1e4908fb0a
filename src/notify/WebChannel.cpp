#include "WebChannel.h"

#include "MailLog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
// Enough of a refusal's body to tell its cause; the rest is never kept.
constexpr qint64 CauseBytes = 300;

QUrl withPath(QUrl url, const QString &tail)
{
    QString path = url.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    url.setPath(path + tail);
    return url;
}
} // namespace

QString WebChannel::problem(const WebChannelSettings &settings)
{
    const QUrl &url = settings.url;
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return QStringLiteral("the URL must be a whole http:// or https:// address");
    if (!url.userInfo().isEmpty())
        return QStringLiteral("the URL must not hold a user name or password: use the token");
    // A failure URL typed into the settings file by hand is held to the same rule.
    if (const QUrl &fail = settings.failUrl; !fail.isEmpty() && (!fail.isValid() || fail.host().isEmpty() ||
                                                                 (fail.scheme() != QLatin1String("http") &&
                                                                  fail.scheme() != QLatin1String("https"))))
        return QStringLiteral("the failure URL must be a whole http:// or https:// address");
    if (settings.kind == WebChannelSettings::Kind::Ntfy &&
        (settings.topic.isEmpty() || settings.topic.contains(u'/') || settings.topic.size() > 64))
        return QStringLiteral("the topic must be a name of 1 to 64 characters without '/'");
    if (settings.kind == WebChannelSettings::Kind::Gotify && settings.token.isEmpty())
        return QStringLiteral("Gotify needs an application token");
    return {};
}

WebChannel::Request WebChannel::build(const WebChannelSettings &settings, const Notice &notice)
{
    Request request{"POST", settings.url, {}, {}};
    switch (settings.kind) {
    case WebChannelSettings::Kind::Ntfy:
        // The message as the body, the rest as headers (ntfy's "publish as HTTP PUT/POST").
        request.url = withPath(settings.url, settings.topic);
        request.body = notice.text().toUtf8();
        request.headers = {{"Title", notice.title().toUtf8()}, {"Tags", "globe_with_meridians"}};
        if (settings.priority > 0)
            request.headers.append({"Priority", QByteArray::number(qBound(1, settings.priority, 5))});
        if (!settings.token.isEmpty())
            request.headers.append({"Authorization", "Bearer " + settings.token.toUtf8()});
        break;
    case WebChannelSettings::Kind::Gotify: {
        request.url = withPath(settings.url, QStringLiteral("message"));
        QJsonObject message{{QStringLiteral("title"), notice.title()},
                            {QStringLiteral("message"), notice.text()}};
        if (settings.priority > 0)
            message.insert(QStringLiteral("priority"), qBound(0, settings.priority, 10));
        request.body = QJsonDocument(message).toJson(QJsonDocument::Compact);
        request.headers = {{"Content-Type", "application/json"}, {"X-Gotify-Key", settings.token.toUtf8()}};
        break;
    }
    case WebChannelSettings::Kind::Webhook:
        request.body = notice.json();
        request.headers = {{"Content-Type", "application/json"}, {"User-Agent", "Netquill"}};
        if (!settings.secret.isEmpty())
            request.headers.append(
                {"X-Netquill-Signature",
                 "sha256=" + QMessageAuthenticationCode::hash(request.body, settings.secret.toUtf8(),
                                                              QCryptographicHash::Sha256)
                                 .toHex()});
        break;
    case WebChannelSettings::Kind::HealthPing:
        request.method = "GET";
        if (notice.event == Notice::Event::Failing)
            request.url = settings.failUrl.isEmpty() ? withPath(settings.url, QStringLiteral("fail"))
                                                     : settings.failUrl;
        break;
    }
    return request;
}

WebChannel::WebChannel(WebChannelSettings settings, QObject *parent)
    : NoticeChannel(parent), m_settings(std::move(settings)), m_network(new QNetworkAccessManager(this))
{
    qRegisterMetaType<ChannelResult>();
}

quint64 WebChannel::send(const Notice &notice)
{
    const quint64 job = nextJob();
    const QString problem = WebChannel::problem(m_settings);
    if (!problem.isEmpty())
        return refuse(job, problem);
    const Request built = build(m_settings, notice);
    QNetworkRequest request(built.url);
    for (const auto &[name, value] : built.headers)
        request.setRawHeader(name, value);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(m_timeoutMs);
    QNetworkReply *reply = m_network->sendCustomRequest(request, built.method, built.body);
    reply->setReadBufferSize(CauseBytes);
    connect(reply, &QNetworkReply::finished, this, [this, reply, job, url = built.url] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        ChannelResult result{job, false, {}};
        if (reply->error() == QNetworkReply::OperationCanceledError)
            result.cause = QStringLiteral("no answer within %1 s").arg(m_timeoutMs / 1000.0);
        else if (status >= 200 && status < 300)
            result.delivered = true;
        else if (status != 0)
            result.cause = QStringLiteral("HTTP status %1: %2")
                               .arg(status)
                               .arg(QString::fromUtf8(reply->read(CauseBytes)).simplified());
        else
            result.cause = reply->errorString();
        if (!result.delivered)
            // The host alone: an ntfy topic or a ping's path is as good as a password.
            qCWarning(lcMail).noquote() << "Notice to" << url.host() << "not delivered:" << result.cause;
        emit finished(result);
    });
    return job;
}
