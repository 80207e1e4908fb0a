#include "frmChannelEdit.h"

#include "AddressMonitor.h"
#include "Caption.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace {
using Kind = ChannelConfig::Kind;
constexpr std::pair<Kind, const char *> Kinds[] = {
    {Kind::Ntfy, "ntfy"},       {Kind::Gotify, "Gotify"},          {Kind::Webhook, "Webhook"},
    {Kind::Apprise, "Apprise"}, {Kind::HealthPing, "Health ping"},
};
} // namespace

frmChannelEdit::frmChannelEdit(AddressMonitor &monitor, const std::optional<ChannelConfig> &was,
                               QWidget *parent)
    : QDialog(parent), m_monitor(monitor), m_was(was ? was->name : QString()), m_paused(was && was->paused)
{
    setWindowTitle(was ? QStringLiteral("Edit Notification Channel")
                       : QStringLiteral("Add Notification Channel"));
    cboKind = new QComboBox(this);
    for (const auto &[kind, text] : Kinds)
        cboKind->addItem(QLatin1String(text), int(kind));
    txtName = new QLineEdit(this);
    txtName->setMaxLength(32);
    txtName->setPlaceholderText(QStringLiteral("phone"));
    txtUrl = new QLineEdit(this);
    txtTopic = new QLineEdit(this);
    txtTopic->setMaxLength(64);
    spnPriority = new QSpinBox(this);
    spnPriority->setSpecialValueText(QStringLiteral("Default"));
    txtSecret = new QLineEdit(this);
    txtSecret->setEchoMode(QLineEdit::Password);
    txtFailUrl = new QLineEdit(this);
    lblProblem = new QLabel(this);
    lblProblem->setWordWrap(true);
    lblProblem->setTextFormat(Qt::PlainText);
    cmdButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto *form = m_form = new QFormLayout(this);
    form->addRow(QStringLiteral("&Kind:"), cboKind);
    form->addRow(QStringLiteral("&Name:"), txtName);
    lblUrl = new QLabel(this);
    form->addRow(lblUrl, txtUrl);
    lblTopic = new QLabel(QStringLiteral("&Topic:"), this);
    form->addRow(lblTopic, txtTopic);
    lblPriority = new QLabel(QStringLiteral("&Priority:"), this);
    form->addRow(lblPriority, spnPriority);
    lblSecret = new QLabel(this);
    form->addRow(lblSecret, txtSecret);
    lblFailUrl = new QLabel(QStringLiteral("&Failure URL:"), this);
    form->addRow(lblFailUrl, txtFailUrl);
    form->addRow(lblProblem);
    form->addRow(cmdButtons);
    for (auto [label, field] : {std::pair<QLabel *, QWidget *>{lblUrl, txtUrl},
                                {lblTopic, txtTopic},
                                {lblPriority, spnPriority},
                                {lblSecret, txtSecret},
                                {lblFailUrl, txtFailUrl}})
        Caption::link(label, field);

    if (was) {
        cboKind->setCurrentIndex(cboKind->findData(int(was->kind)));
        txtName->setText(was->name);
        txtUrl->setText(was->url.toString());
        txtTopic->setText(was->topic);
        txtFailUrl->setText(was->failUrl.toString());
    }
    cboKind_Change();
    if (was)
        spnPriority->setValue(was->priority);
    resize(480, minimumSizeHint().height());
    if (modIdentity::Identity().blnSkinEnabled)
        modSkin::runGuarded([this] { modSkin::SkinForm(this); });
    connect(cboKind, &QComboBox::currentIndexChanged, this, &frmChannelEdit::cboKind_Change);
    connect(cmdButtons, &QDialogButtonBox::accepted, this, &frmChannelEdit::cmdOK_Click);
    connect(cmdButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void frmChannelEdit::cboKind_Change()
{
    const Kind kind = Kind(cboKind->currentData().toInt());
    const bool apprise = kind == Kind::Apprise;
    lblUrl->setText(kind == Kind::Webhook      ? QStringLiteral("&URL:")
                    : kind == Kind::HealthPing ? QStringLiteral("&Ping URL:")
                                               : QStringLiteral("&Server:"));
    txtUrl->setPlaceholderText(kind == Kind::Ntfy         ? QStringLiteral("https://ntfy.sh")
                               : kind == Kind::HealthPing ? QStringLiteral("https://hc-ping.com/your-uuid")
                                                          : QStringLiteral("https://"));
    lblSecret->setText(apprise                 ? QStringLiteral("Apprise &URLs:")
                       : kind == Kind::Webhook ? QStringLiteral("Signing &secret:")
                                               : QStringLiteral("&Token:"));
    // Apprise's URLs hold tokens: hidden like one.
    txtSecret->setPlaceholderText(!m_was.isEmpty() ? QStringLiteral("(unchanged)")
                                  : apprise        ? QStringLiteral("tgram://bottoken/ChatID ...")
                                  : kind == Kind::Ntfy || kind == Kind::Webhook ? QStringLiteral("(optional)")
                                                                                : QString());
    spnPriority->setRange(0, kind == Kind::Gotify ? 10 : 5);
    // Whole rows, so that a hidden field leaves no gap.
    m_form->setRowVisible(txtUrl, !apprise);
    m_form->setRowVisible(txtTopic, kind == Kind::Ntfy);
    m_form->setRowVisible(spnPriority, kind == Kind::Ntfy || kind == Kind::Gotify);
    m_form->setRowVisible(txtSecret, kind != Kind::HealthPing);
    m_form->setRowVisible(txtFailUrl, kind == Kind::HealthPing);
    if (apprise && !AddressMonitor::appriseInstalled())
        lblProblem->setText(QStringLiteral("The apprise command is not installed (Debian package apprise): "
                                           "this channel cannot send until it is."));
    else
        lblProblem->clear();
    lblProblem->setVisible(!lblProblem->text().isEmpty());
    m_form->activate();
    resize(width(), minimumSizeHint().height());
}

ChannelConfig frmChannelEdit::channel() const
{
    ChannelConfig channel;
    channel.kind = Kind(cboKind->currentData().toInt());
    channel.name = txtName->text().trimmed();
    if (channel.kind != Kind::Apprise)
        channel.url = QUrl(txtUrl->text().trimmed(), QUrl::StrictMode);
    if (channel.kind == Kind::Ntfy)
        channel.topic = txtTopic->text().trimmed();
    if (channel.kind == Kind::Ntfy || channel.kind == Kind::Gotify)
        channel.priority = spnPriority->value();
    if (channel.kind == Kind::HealthPing && !txtFailUrl->text().trimmed().isEmpty())
        channel.failUrl = QUrl(txtFailUrl->text().trimmed(), QUrl::StrictMode);
    channel.paused = m_paused;
    return channel;
}

void frmChannelEdit::cmdOK_Click()
{
    const ChannelConfig edited = channel();
    // Editing, an empty secret field keeps the secret; a ping has none.
    std::optional<QString> secret = txtSecret->text().trimmed();
    if (edited.isPing())
        secret = QString();
    else if (!m_was.isEmpty() && secret->isEmpty())
        secret.reset();
    QString why;
    if (!m_monitor.saveChannel(m_was, edited, secret, &why)) {
        lblProblem->setText(QStringLiteral("Not saved: ") + why + u'.');
        lblProblem->show();
        return;
    }
    accept();
}
