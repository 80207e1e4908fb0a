#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

/// Fetches one web page at a time and offers what the lookup cycle reads of a browser control:
/// the location of the completed document and its body element's inner HTML.
/// A new Navigate replaces a pending one; only the newest fetch completes.
/// A fetch that fails (no connection, a status other than 2xx, time-out, oversized body) still
/// completes, with Failed() true, an empty body and the requested address as its location.
/// LocationURL, BodyInnerHTML and Failed describe the last completed fetch until the next completes.
class PageFetcher : public QObject {
    Q_OBJECT
public:
    explicit PageFetcher(QObject *parent = nullptr);

    /// Starts a GET of url and returns at once; a fetch still pending is dropped without completing.
    void Navigate(const QUrl &url);

    QUrl LocationURL() const { return m_location; }
    QString BodyInnerHTML() const { return m_body; }
    bool Failed() const { return m_failed; }
    bool Busy() const { return !m_reply.isNull(); }

    /// Limit for a whole fetch, redirects included, applied from the next Navigate; 0 or less waits
    /// without limit.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeout() const { return m_timeoutMs; }
    /// A body longer than this fails the fetch as soon as the excess arrives.
    void setMaxBodyBytes(qint64 bytes) { m_maxBodyBytes = bytes; }
    qint64 maxBodyBytes() const { return m_maxBodyBytes; }

    static constexpr int DefaultTimeoutMs = 15000;
    static constexpr qint64 DefaultMaxBodyBytes = 64 * 1024;

signals:
    void DownloadComplete();

private:
    void readBody();
    void replyFinished();
    void complete(bool failed);

    QNetworkAccessManager *m_network;
    QPointer<QNetworkReply> m_reply;
    QTimer *m_timer;
    QUrl m_requested;
    QByteArray m_received;
    QUrl m_location;
    QString m_body;
    bool m_failed = false;
    int m_timeoutMs = DefaultTimeoutMs;
    qint64 m_maxBodyBytes = DefaultMaxBodyBytes;
};
