#include "frmWhois.h"

#include "Twips.h"
#include "WhoisAnswer.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>

frmWhois::frmWhois(const QString &query, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_query(query),
      m_client(new WhoisClient(this))
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
    Winsock1 = m_client->Winsock1;
    connect(m_client, &WhoisClient::finished, this, &frmWhois::showResult);
    Form_Load();
}

void frmWhois::Form_Load()
{
    // A window that cannot take the skin still works with its plain look.
    if (modIdentity::Identity().blnSkinEnabled)
        modSkin::runGuarded([this] { modSkin::SkinForm(this); });
    m_client->ask(m_query);
}

void frmWhois::setTimeLimit(int milliseconds)
{
    m_client->setTimeLimit(milliseconds);
}

void frmWhois::showResult(const WhoisClient::Result &result)
{
    if (!result.answered) {
        text1->setPlainText(result.host.isEmpty() ? result.cause
                                                  : result.host + QStringLiteral(": ") + result.cause);
        return;
    }
    if (WhoisAnswer::needsWrapAnywhere(result.text))
        text1->setWordWrapMode(QTextOption::WrapAnywhere);
    text1->setPlainText(result.text);
}

// Escape, like the window's close box, closes and destroys the window.
void frmWhois::reject()
{
    close();
}

void frmWhois::closeEvent(QCloseEvent *event)
{
    m_client->stop(); // the window is going: the connection's own close shows nothing
    event->accept();
}
