#include "frmWhois.h"

#include "NettoolsLog.h"
#include "Twips.h"
#include "WhoisServer.h"
#include "Winsock.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QTimer>

frmWhois::frmWhois(const QString &query, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_query(query),
      strWhoisText(MaxAnswerLength), m_timeLimit(new QTimer(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("WHOIS Information"));
    setFixedSize(Twips::toPixels(WidthTwips), Twips::toPixels(HeightTwips));

    text1 = new QPlainTextEdit(this);
    text1->setObjectName(QStringLiteral("text1"));
    text1->setGeometry(rect());
    text1->setReadOnly(true);
    text1->setUndoRedoEnabled(false);
    text1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text1->setAccessibleName(windowTitle());

    Winsock1 = new Winsock(this);
    connect(Winsock1, &Winsock::Connected, this, &frmWhois::Winsock1_Connect);
    connect(Winsock1, &Winsock::DataArrival, this, &frmWhois::Winsock1_DataArrival);
    connect(Winsock1, &Winsock::Closed, this, &frmWhois::Winsock1_Close);
    connect(Winsock1, &Winsock::SocketError, this, &frmWhois::Winsock1_Error);
    m_timeLimit->setSingleShot(true);
    connect(m_timeLimit, &QTimer::timeout, this, &frmWhois::timeLimit_Timer);

    Form_Load();
}

void frmWhois::Form_Load()
{
    strWhoisText.clear();
    // A window that cannot take the skin still works with its plain look.
    if (modIdentity::Identity().blnSkinEnabled)
        modSkin::runGuarded([this] { modSkin::SkinForm(this); });
    const WhoisServer::Endpoint server = WhoisServer::current();
    Winsock1->Close();
    Winsock1->LocalPort = 0;
    Winsock1->RemoteHost = server.host;
    Winsock1->RemotePort = server.port;
    m_timeLimit->start(m_timeLimitMs);
    if (!Winsock1->Connect())
        showFailure(QStringLiteral("No whois server to ask"));
}

void frmWhois::setTimeLimit(int milliseconds)
{
    m_timeLimitMs = milliseconds;
    if (!m_finished)
        m_timeLimit->start(milliseconds);
}

void frmWhois::Winsock1_Connect()
{
    m_connected = true;
    // The query goes out as UTF-8, as servers read it today; the socket carries 8-bit text, one
    // character per byte.
    Winsock1->SendData(QString::fromLatin1((m_query + QStringLiteral("\r\n")).toUtf8()));
}

void frmWhois::Winsock1_DataArrival(qint64 bytesTotal)
{
    Q_UNUSED(bytesTotal);
    if (m_finished)
        return;
    m_received = true;
    if (!take(Winsock1->GetData())) {
        // A server that goes on past any real answer is cut off; what came until then is shown.
        qCWarning(lcNettools) << "whois answer from" << Winsock1->RemoteHost << "longer than"
                              << MaxAnswerLength << "bytes; cut off there";
        showAnswer();
        Winsock1->Close();
    }
}

void frmWhois::Winsock1_Close()
{
    if (m_finished)
        return;
    take(Winsock1->GetData());
    showAnswer();
}

void frmWhois::Winsock1_Error(const QString &text)
{
    // Once connected, the server's own close comes as an error too ("remote host closed"); whatever it
    // sent until then is its answer, an empty one included.
    if (m_connected) {
        qCDebug(lcNettools).noquote() << "whois connection to" << Winsock1->RemoteHost << "ended:" << text;
        return;
    }
    showFailure(text);
}

void frmWhois::timeLimit_Timer()
{
    if (m_finished)
        return;
    if (!m_received) {
        showFailure(QStringLiteral("No answer within %1 s").arg(m_timeLimitMs / 1000.0));
        return;
    }
    // Part of an answer is more use than none; the log says it may be incomplete.
    qCWarning(lcNettools) << "whois answer from" << Winsock1->RemoteHost << "not finished within"
                          << m_timeLimitMs << "ms; shown as it is";
    showAnswer();
    Winsock1->Close();
}

bool frmWhois::take(const QString &data)
{
    // Received text holds one character per byte: the bytes come back unchanged.
    return strWhoisText.take(data.toLatin1());
}

void frmWhois::showAnswer()
{
    if (m_finished)
        return;
    m_finished = true;
    m_timeLimit->stop();
    const QString answer = strWhoisText.text();
    if (WhoisAnswer::needsWrapAnywhere(answer))
        text1->setWordWrapMode(QTextOption::WrapAnywhere);
    text1->setPlainText(answer);
}

void frmWhois::showFailure(const QString &cause)
{
    if (m_finished)
        return;
    m_finished = true;
    m_timeLimit->stop();
    const QString host = Winsock1->RemoteHost;
    qCWarning(lcNettools).noquote() << "whois query to" << host << "failed:" << cause;
    text1->setPlainText(host.isEmpty() ? cause : host + QStringLiteral(": ") + cause);
    Winsock1->Close();
}

// Escape, like the window's close box, closes and destroys the window.
void frmWhois::reject()
{
    close();
}

void frmWhois::closeEvent(QCloseEvent *event)
{
    m_finished = true; // the window is going: its own close of the connection shows nothing
    m_timeLimit->stop();
    Winsock1->Close();
    event->accept();
}
