#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QProcess;
class QTimer;

/// Fetches one web page at a time and ends each fetch with a Result: what the lookup cycle reads of a
/// browser control (the location of the completed document and its body element's inner HTML), or the
/// failure and its cause.
/// A new Navigate replaces a pending one; only the newest fetch completes.
/// An HTML fetch follows redirects, up to MaxRedirects, as long as they do not go from https to http.
/// A plain-text fetch follows one only from http to https of the very same address (IsUpgrade): any
/// other redirect fails it, before the address it points to is asked.
/// A fetch that fails (no connection, a status other than 2xx, time-out, too many redirects, a refused
/// redirect, oversized or cut-off body, a body's inner HTML longer than the page bound, a parser that
/// crashed, hung or ran out of memory) still completes, failed, with an empty body and the requested
/// address as its location; the cause is logged.
/// The body is parsed by a helper process (netquill-htmlbody beside the program), started per fetch
/// with a time and memory limit, so that no page can take the program down.
/// A plain-text fetch (services that answer with a bare address) skips the parser: its decoded text,
/// at most MaxPlainTextBytes, is the body.
class PageFetcher : public QObject {
    Q_OBJECT
public:
    /// How one fetch ended.
    struct Result {
        QUrl requested;
        QUrl LocationURL;
        /// The body's inner HTML; for a plain-text fetch, the whole text as received.
        QString BodyInnerHTML;
        bool failed = false;
        /// Why it failed, in a few words ("connection refused", "HTTP status 404"); empty when it did not.
        QString cause;
        qint64 elapsedMs = 0;
        int httpStatus = 0; ///< of the last reply; 0 when none came
        /// A 429 or 503 reply's Retry-After, in seconds from its arrival; -1 when there was none.
        qint64 retryAfterSeconds = -1;
    };

    enum class Body {
        Html,      ///< the body element's inner HTML, from the parser process
        PlainText, ///< the text as received, never parsed
    };

    explicit PageFetcher(QObject *parent = nullptr);

    /// Starts a GET of url and returns at once; a fetch still pending is dropped without completing.
    void Navigate(const QUrl &url, Body body = Body::Html);

    /// Drops the pending fetch, if any, without completing it.
    void Stop();

    /// The last fetch that completed, until the next one does.
    const Result &last() const { return m_last; }
    bool Busy() const { return !m_reply.isNull() || m_parser; }

    /// Limit for a whole fetch, redirects included, applied from the next Navigate; 0 or less waits
    /// without limit.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeout() const { return m_timeoutMs; }
    /// A body longer than this fails the fetch as soon as the excess arrives.
    void setMaxBodyBytes(qint64 bytes) { m_maxBodyBytes = bytes; }

    /// The parser program and its arguments; it reads the page on standard input and writes the
    /// body's inner HTML. "--max-bytes=N" follows the arguments: past N bytes of output it may end
    /// with status ParserOverBound instead. Tests put misbehaving parsers here.
    void setParser(const QString &program, const QStringList &arguments = {});
    /// Limits for one parse: wall-clock time and address space.
    void setParseLimits(int milliseconds, qint64 memoryBytes);

    /// Whether a redirect from one address to another only moves it from http to https: the same host,
    /// path and query, and the same port, or http's default port to https's default port. Nothing
    /// else asks the same server for the same thing.
    static bool IsUpgrade(const QUrl &from, const QUrl &to);

    /// A Retry-After header's wait in seconds (delta-seconds, the largest number when there are too many
    /// to count, or an HTTP date in any of its forms, after now), or -1 when the value is neither.
    static qint64 RetryAfter(const QByteArray &value, const QDateTime &now);

    /// Whether a body of received bytes falls short of its Content-Length header. Qt 6.4 sometimes
    /// finishes a reply without an error when the server closes early; such a page is not an address.
    static bool IsCutOff(const QByteArray &contentLength, bool encoded, qint64 received);

    static constexpr int DefaultTimeoutMs = 15000;
    /// Also the bound of the body's inner HTML made of it.
    static constexpr qint64 DefaultMaxBodyBytes = 64 * 1024;
    /// A chain of redirects longer than this fails the fetch.
    static constexpr int MaxRedirects = 10;
    /// A bare address is a few dozen bytes; anything near this is not one.
    static constexpr qint64 MaxPlainTextBytes = 1024;
    static constexpr int DefaultParseTimeMs = 3000;
    static constexpr int ParserOverBound = 2;
    static constexpr qint64 DefaultParseMemoryBytes = 256 * 1024 * 1024;

signals:
    /// A fetch completed, well or not; the fetcher is idle again.
    void DownloadComplete(const PageFetcher::Result &result);

private:
    void readBody();
    /// Only for a plain-text fetch, whose redirects wait for this verdict.
    void redirected(const QUrl &target);
    void replyFinished();
    void dropReply();
    void parse(const QByteArray &utf8Document);
    void parseFinished();
    void stopParser();
    /// Ends the fetch as failed, logging why.
    void fail(const QString &cause);
    void complete(bool failed, const QString &body = {});
    qint64 bodyLimit() const;

    QNetworkAccessManager *m_network;
    QPointer<QNetworkReply> m_reply;
    QTimer *m_timer;
    QProcess *m_parser = nullptr;
    QTimer *m_parseTimer;
    QString m_parserProgram;
    QStringList m_parserArguments;
    QByteArray m_parsed;
    int m_parseTimeMs = DefaultParseTimeMs;
    qint64 m_parseMemoryBytes = DefaultParseMemoryBytes;
    QUrl m_requested;
    QUrl m_hop; // the address the fetch under way has reached, redirects included
    Body m_mode = Body::Html;
    QUrl m_finalUrl; // where the fetch ended up, after redirects
    QByteArray m_received;
    Result m_last;
    QElapsedTimer m_clock; // since Navigate
    QString m_why;         // the cause of the failure of the fetch under way, once known
    int m_status = 0;
    qint64 m_retryAfter = -1;
    int m_timeoutMs = DefaultTimeoutMs;
    qint64 m_maxBodyBytes = DefaultMaxBodyBytes;
};
