#pragma once

#include "WhoisAnswer.h"

#include <QString>
#include <QWidget>

class QPlainTextEdit;
class Winsock;

/// "WHOIS Information": sends one query (UTF-8) to the whois server when it loads and shows the
/// answer, as plain text, once the server has closed the connection: UTF-8 when it is valid UTF-8,
/// else Latin-1. Closing the window ends the connection and
/// destroys the window.
class frmWhois : public QWidget {
    Q_OBJECT
public:
    /// Client size in twips.
    static constexpr int WidthTwips = 8235;
    static constexpr int HeightTwips = 6555;
    /// Real answers are a few kilobytes; a server that sends more bytes than this is cut off there.
    static constexpr qsizetype MaxAnswerLength = 1024 * 1024;

    /// Loads the window; the query is sent, followed by CR LF, as soon as the connection is up.
    explicit frmWhois(const QString &query, QWidget *parent = nullptr);

    QPlainTextEdit *text1;
    Winsock *Winsock1;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void Winsock1_Connect();
    void Winsock1_DataArrival(qint64 bytesTotal);
    void Winsock1_Close();
    /// Appends received text up to the bound; false when the text went past it.
    bool take(const QString &data);
    void showAnswer();

    QString m_query;
    WhoisAnswer strWhoisText;
    bool m_finished = false; // the answer is shown, or the window is going
};
