#include "frmConfigure.h"

#include "AddressMonitor.h"
#include "Caption.h"
#include "ComboCaption.h"
#include "Twips.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace {
using Twips::place;

void setIfChanged(QLineEdit *box, const QString &text)
{
    // Only a real change runs the box's change handling and so writes to the store.
    if (box->text() != text)
        box->setText(text);
}
} // namespace

frmConfigure::frmConfigure(AddressMonitor &monitor, std::function<void()> sendTest, QWidget *parent)
    : QDialog(parent), m_monitor(monitor), m_sendTest(std::move(sendTest))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Mail Server Configuration"));
    setFixedSize(Twips::toPixels(WidthTwips), Twips::toPixels(HeightTwips));
    buildControls();
    Form_Load();
    // Saves reach the disk on a worker thread; a failure shows here too, as the main window may be
    // hidden behind this one. The store's values stay and go out with the next save.
    connect(&m_monitor, &AddressMonitor::saveFailed, this, &frmConfigure::ShowSaveFailure);
    connect(&m_monitor, &AddressMonitor::saved, this, [this] { ShowSaveFailure(QString()); });
}

frmConfigure::~frmConfigure()
{
    // A password typed just before closing goes to the keyring now rather than after the pause.
    m_monitor.flushMailPassword();
}

void frmConfigure::buildControls()
{
    SkinLabel1 = SkinLabelArray(SkinLabelArray::Template(this, 2520, 120, 135, 135));
    lblServer = new QLabel(QStringLiteral("Mail Server:"), this);
    lblPort = new QLabel(QStringLiteral("Port:"), this);
    lblEmailTo = new QLabel(QStringLiteral("Email Address - To:"), this);
    lblEmailFrom = new QLabel(QStringLiteral("Email Address - From:"), this);
    // The design texts are the stored defaults, so a fresh installation shows what it would send with.
    txtServer = new QLineEdit(QLatin1String(SettingKeys::Server.defaultValue), this);
    txtPort = new QLineEdit(QLatin1String(SettingKeys::Port.defaultValue), this);
    txtEmailTo = new QLineEdit(QLatin1String(SettingKeys::EmailTo.defaultValue), this);
    txtEmailFrom = new QLineEdit(QLatin1String(SettingKeys::EmailFrom.defaultValue), this);
    lblSecurity = new QLabel(QStringLiteral("Connection Security:"), this);
    cmbSecurity = new QComboBox(this);
    ComboCaption::link(cmbSecurity, lblSecurity->text());
    cmbSecurity->addItems({QStringLiteral("None"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")});
    lblUser = new QLabel(QStringLiteral("User Name:"), this);
    txtUser = new QLineEdit(this);
    lblPassword = new QLabel(QStringLiteral("Password:"), this);
    txtPassword = new QLineEdit(this);
    txtPassword->setEchoMode(QLineEdit::Password);
    cmdSend = new QPushButton(style()->standardIcon(QStyle::SP_ArrowForward),
                              QStringLiteral("Send Test Message"), this);

    lblServer->setObjectName(QStringLiteral("lblServer"));
    lblPort->setObjectName(QStringLiteral("lblPort"));
    lblEmailTo->setObjectName(QStringLiteral("lblEmailTo"));
    lblEmailFrom->setObjectName(QStringLiteral("lblEmailFrom"));
    txtServer->setObjectName(QStringLiteral("txtServer"));
    txtPort->setObjectName(QStringLiteral("txtPort"));
    txtEmailTo->setObjectName(QStringLiteral("txtEmailTo"));
    txtEmailFrom->setObjectName(QStringLiteral("txtEmailFrom"));
    lblSecurity->setObjectName(QStringLiteral("lblSecurity"));
    cmbSecurity->setObjectName(QStringLiteral("cmbSecurity"));
    lblUser->setObjectName(QStringLiteral("lblUser"));
    txtUser->setObjectName(QStringLiteral("txtUser"));
    lblPassword->setObjectName(QStringLiteral("lblPassword"));
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    cmdSend->setObjectName(QStringLiteral("cmdSend"));

    Caption::link(lblServer, txtServer);
    Caption::link(lblPort, txtPort);
    Caption::link(lblEmailTo, txtEmailTo);
    Caption::link(lblEmailFrom, txtEmailFrom);
    Caption::link(lblSecurity, cmbSecurity);
    Caption::link(lblUser, txtUser);
    Caption::link(lblPassword, txtPassword);

    place(lblServer, 120, 105, 2280, 240);
    place(txtServer, 120, 345, 2280, 315);
    place(lblPort, 2520, 105, 630, 240);
    place(txtPort, 2520, 345, 630, 315);
    place(lblEmailTo, 120, 780, 3030, 240);
    place(txtEmailTo, 120, 1020, 3030, 315);
    place(lblEmailFrom, 120, 1455, 3030, 240);
    place(txtEmailFrom, 120, 1695, 3030, 315);
    place(lblSecurity, 120, 2130, 3030, 240);
    place(cmbSecurity, 120, 2370, 3030, 315);
    place(lblUser, 120, 2805, 1455, 240);
    place(txtUser, 120, 3045, 1455, 315);
    place(lblPassword, 1695, 2805, 1455, 240);
    place(txtPassword, 1695, 3045, 1455, 315);
    place(cmdSend, 120, 3945, 3030, 585);

    setTabOrder(txtServer, txtPort);
    setTabOrder(txtPort, txtEmailTo);
    setTabOrder(txtEmailTo, txtEmailFrom);
    setTabOrder(txtEmailFrom, cmbSecurity);
    setTabOrder(cmbSecurity, txtUser);
    setTabOrder(txtUser, txtPassword);
    setTabOrder(txtPassword, cmdSend);
    for (QLabel *label : {lblServer, lblPort, lblEmailTo, lblEmailFrom, lblSecurity, lblUser, lblPassword})
        label->setFocusPolicy(Qt::NoFocus);
    cmdSend->setAutoDefault(false);

    connect(txtServer, &QLineEdit::textChanged, this, &frmConfigure::txtServer_Change);
    connect(txtPort, &QLineEdit::textChanged, this, &frmConfigure::txtPort_Change);
    connect(txtEmailTo, &QLineEdit::textChanged, this, &frmConfigure::txtEmailTo_Change);
    connect(txtEmailFrom, &QLineEdit::textChanged, this, &frmConfigure::txtEmailFrom_Change);
    connect(cmbSecurity, &QComboBox::currentIndexChanged, this, &frmConfigure::cmbSecurity_Click);
    connect(txtUser, &QLineEdit::textChanged, this, &frmConfigure::txtUser_Change);
    connect(txtPassword, &QLineEdit::textEdited, this, &frmConfigure::txtPassword_Change);
    connect(cmdSend, &QPushButton::clicked, this, &frmConfigure::cmdSend_Click);
    connect(&m_monitor, &AddressMonitor::keyringAvailableChanged, this, &frmConfigure::ShowKeyring);
    // Opened before the keyring was read: show what it holds unless something was typed already.
    connect(&m_monitor, &AddressMonitor::mailPasswordLoaded, this, [this](const QString &text) {
        if (txtPassword->text().isEmpty())
            txtPassword->setText(text);
    });
}

void frmConfigure::Form_Load()
{
    const MailSettings settings = m_monitor.mailSettings();
    setIfChanged(txtServer, settings.strServer);
    setIfChanged(txtPort, settings.strPort);
    setIfChanged(txtEmailTo, settings.strEmailTo);
    setIfChanged(txtEmailFrom, settings.strEmailFrom);
    // A setting that names no choice shows as none chosen, and stays as it is until one is picked.
    const int security = cmbSecurity->findText(settings.strSecurity.trimmed(), Qt::MatchFixedString);
    if (security != cmbSecurity->currentIndex()) {
        const QSignalBlocker quiet(cmbSecurity);
        cmbSecurity->setCurrentIndex(security);
    }
    setIfChanged(txtUser, settings.strUser);
    txtPassword->setText(settings.strPassword.value_or(QString()));
    m_monitor.loadMailPassword();
    // A window that cannot take the skin still works with its plain look.
    if (modIdentity::Identity().blnSkinEnabled) {
        modSkin::runGuarded([this] { modSkin::SubstituteSkinLabels(this, {&SkinLabel1}, false); });
        modSkin::runGuarded([this] { modSkin::SkinForm(this); });
    }
    ShowKeyring();
}

void frmConfigure::cmdSend_Click()
{
    if (m_sendTest)
        m_sendTest();
}

void frmConfigure::txtServer_Change()
{
    m_monitor.setMailSetting(SettingKeys::Server, txtServer->text());
}

void frmConfigure::txtPort_Change()
{
    m_monitor.setMailSetting(SettingKeys::Port, txtPort->text());
}

void frmConfigure::txtEmailTo_Change()
{
    m_monitor.setMailSetting(SettingKeys::EmailTo, txtEmailTo->text());
}

void frmConfigure::txtEmailFrom_Change()
{
    m_monitor.setMailSetting(SettingKeys::EmailFrom, txtEmailFrom->text());
}

void frmConfigure::cmbSecurity_Click()
{
    m_monitor.setMailSetting(SettingKeys::Security, cmbSecurity->currentText());
}

void frmConfigure::txtUser_Change()
{
    m_monitor.setMailSetting(SettingKeys::User, txtUser->text());
}

void frmConfigure::txtPassword_Change()
{
    m_monitor.setMailPassword(txtPassword->text());
}

void frmConfigure::ShowSaveFailure(const QString &reason)
{
    if (reason.isEmpty() && !lblSaveFailure)
        return;
    // Made on first need, as the keyring note is, and shown in its place: the failure matters more.
    if (!lblSaveFailure) {
        lblSaveFailure = new QLabel(this);
        lblSaveFailure->setObjectName(QStringLiteral("lblSaveFailure"));
        lblSaveFailure->setWordWrap(true);
        lblSaveFailure->setFocusPolicy(Qt::NoFocus);
        lblSaveFailure->setTextFormat(Qt::PlainText);
        place(lblSaveFailure, 120, 3420, 3030, 480);
    }
    // The cause may be long (a folder's name): what does not fit the label's lines ends in an ellipsis,
    // and the tool tip holds all of it.
    const QString text = reason.isEmpty() ? QString() : QStringLiteral("Error: ") + reason;
    const QFontMetrics metrics(lblSaveFailure->font());
    const QRect room(0, 0, lblSaveFailure->width(), 0);
    QString shown = text;
    while (shown.size() > 1 &&
           metrics.boundingRect(room, Qt::TextWordWrap, shown).height() > lblSaveFailure->height()) {
        const qsizetype cut = shown.lastIndexOf(u' ', shown.size() - 3);
        shown = (cut > 0 ? shown.first(cut) : shown.chopped(2)) + QChar(0x2026);
    }
    lblSaveFailure->setText(shown);
    lblSaveFailure->setToolTip(text);
    lblSaveFailure->setVisible(!reason.isEmpty());
    ShowKeyring();
}

void frmConfigure::ShowKeyring()
{
    const bool missing = !m_monitor.keyringAvailable() && !(lblSaveFailure && !lblSaveFailure->isHidden());
    // Made on first need, after the skin step: the skin's label copies cannot follow a wrapped text that
    // comes and goes.
    if (missing && !lblKeyring) {
        lblKeyring = new QLabel(
            QStringLiteral("No keyring found: the password is kept only until Netquill closes."), this);
        lblKeyring->setObjectName(QStringLiteral("lblKeyring"));
        lblKeyring->setWordWrap(true);
        lblKeyring->setFocusPolicy(Qt::NoFocus);
        place(lblKeyring, 120, 3420, 3030, 480);
    }
    if (lblKeyring)
        lblKeyring->setVisible(missing);
}
