#pragma once

#include "WhoisAnswer.h"

#include <QObject>
#include <QString>

class QTimer;
class Winsock;

/// One whois query (RFC 3912): connects to the whois server, sends the query as UTF-8 followed by
/// CR LF, and takes the answer until the server closes the connection. An answer past MaxAnswerLength
/// is cut off there, and one not finished within the time limit is taken as it is; a query with no
/// answer at all (the server not found, not reachable, or silent) fails with its cause. Every failure
/// is logged.
class WhoisClient : public QObject {
    Q_OBJECT
public:
    /// How a query ended.
    struct Result {
        bool answered = false;
        QString text;  ///< the answer: UTF-8 when it is valid UTF-8, else Latin-1
        QString host;  ///< the server asked
        QString cause; ///< why there is no answer
    };
    /// Real answers are a few kilobytes; a server that sends more bytes than this is cut off there.
    static constexpr qsizetype MaxAnswerLength = 1024 * 1024;
    /// Real servers answer within seconds; past this the query has failed.
    static constexpr int TimeLimitMs = 30000;

    explicit WhoisClient(QObject *parent = nullptr);

    /// Asks the whois server in force (WhoisServer::current); finished follows, once.
    void ask(const QString &query);
    /// Gives the query milliseconds from now, instead of what remains of TimeLimitMs.
    void setTimeLimit(int milliseconds);
    /// Ends the connection; nothing follows.
    void stop();

    Winsock *Winsock1;

signals:
    void finished(const WhoisClient::Result &result);

private:
    void Winsock1_Connect();
    void Winsock1_DataArrival();
    void Winsock1_Close();
    void Winsock1_Error(const QString &text);
    void timeLimit_Timer();
    /// Appends received text up to the bound; false when the text went past it.
    bool take(const QString &data);
    void answer();
    void fail(const QString &cause);

    QString m_query;
    WhoisAnswer strWhoisText;
    QTimer *m_timeLimit;
    int m_timeLimitMs = TimeLimitMs;
    bool m_connected = false;
    bool m_received = false;
    bool m_finished = true; // no query under way
};
