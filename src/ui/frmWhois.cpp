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

frmWhois::frmWhois(const QString &query, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_query(query),
      strWhoisText(MaxAnswerLength)
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
    // The window stays empty when the query fails; the log says why.
    connect(Winsock1, &Winsock::SocketError, this, [this](const QString &text) {
        qCWarning(lcNettools).noquote() << "whois query to" << Winsock1->RemoteHost << "failed:" << text;
    });

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
    // A server that cannot be reached leaves the box empty; nothing is reported.
    Winsock1->Connect();
}

void frmWhois::Winsock1_Connect()
{
    // The query goes out as UTF-8, as servers read it today; the socket carries 8-bit text, one
    // character per byte.
    Winsock1->SendData(QString::fromLatin1((m_query + QStringLiteral("\r\n")).toUtf8()));
}

void frmWhois::Winsock1_DataArrival(qint64 bytesTotal)
{
    Q_UNUSED(bytesTotal);
    if (m_finished)
        return;
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
    const QString answer = strWhoisText.text();
    if (WhoisAnswer::needsWrapAnywhere(answer))
        text1->setWordWrapMode(QTextOption::WrapAnywhere);
    text1->setPlainText(answer);
}

void frmWhois::closeEvent(QCloseEvent *event)
{
    m_finished = true; // the window is going: its own close of the connection shows nothing
    Winsock1->Close();
    event->accept();
}
