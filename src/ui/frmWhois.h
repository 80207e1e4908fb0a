#pragma once

#include "WhoisClient.h"

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class Winsock;

/// "WHOIS Information": asks the whois server about one query when it loads (WhoisClient) and shows
/// the answer, as plain text, once the server has closed the connection. A query that gets no answer
/// shows one line in its place: the server's host and why. Closing the window (Escape too) ends the
/// connection and destroys the window.
class frmWhois : public QDialog {
    Q_OBJECT
public:
    /// Client size in twips.
    static constexpr int WidthTwips = 8235;
    static constexpr int HeightTwips = 6555;
    static constexpr qsizetype MaxAnswerLength = WhoisClient::MaxAnswerLength;

    /// Loads the window; the query is sent, followed by CR LF, as soon as the connection is up.
    explicit frmWhois(const QString &query, QWidget *parent = nullptr);

    /// Gives the query milliseconds from now, instead of what remains of WhoisClient::TimeLimitMs.
    void setTimeLimit(int milliseconds);

    QPlainTextEdit *text1;
    Winsock *Winsock1; // the client's connection to the whois server

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void showResult(const WhoisClient::Result &result);

    QString m_query;
    WhoisClient *m_client;
};
