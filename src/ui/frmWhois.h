#pragma once

#include "WhoisAnswer.h"

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QTimer;
class Winsock;

/// "WHOIS Information": sends one query (UTF-8) to the whois server when it loads and shows the
/// answer, as plain text, once the server has closed the connection: UTF-8 when it is valid UTF-8,
/// else Latin-1. A query that gets no answer (the server not found, not reachable, or silent past the
/// time limit) shows one line in its place: the server's host and why. Closing the window (Escape
/// too) ends the connection and destroys the window.
class frmWhois : public QDialog {
    Q_OBJECT
public:
    /// Client size in twips.
    static constexpr int WidthTwips = 8235;
    static constexpr int HeightTwips = 6555;
    /// Real answers are a few kilobytes; a server that sends more bytes than this is cut off there.
    static constexpr qsizetype MaxAnswerLength = 1024 * 1024;
    /// Real servers answer within seconds; past this the query has failed.
    static constexpr int TimeLimitMs = 30000;

    /// Loads the window; the query is sent, followed by CR LF, as soon as the connection is up.
    explicit frmWhois(const QString &query, QWidget *parent = nullptr);

    /// Gives the query milliseconds from now, instead of what remains of TimeLimitMs.
    void setTimeLimit(int milliseconds);

    QPlainTextEdit *text1;
    Winsock *Winsock1;

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void Winsock1_Connect();
    void Winsock1_DataArrival(qint64 bytesTotal);
    void Winsock1_Close();
    void Winsock1_Error(const QString &text);
    void timeLimit_Timer();
    /// Appends received text up to the bound; false when the text went past it.
    bool take(const QString &data);
    void showAnswer();
    /// Shows, and logs, "host: cause" where the answer would stand, and ends the connection.
    void showFailure(const QString &cause);

    QString m_query;
    WhoisAnswer strWhoisText;
    QTimer *m_timeLimit;
    int m_timeLimitMs = TimeLimitMs;
    bool m_connected = false;
    bool m_received = false;
    bool m_finished = false; // the answer or the failure is shown, or the window is going
};
