#include "frmChannels.h"

#include "AddressMonitor.h"
#include "frmChannelEdit.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
enum Column { Name, Kind, Where, State, Last };
} // namespace

frmChannels::frmChannels(AddressMonitor &monitor, QWidget *parent) : QDialog(parent), m_monitor(monitor)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Notification Channels"));
    lstChannels = new QTreeWidget(this);
    lstChannels->setRootIsDecorated(false);
    lstChannels->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Kind"), QStringLiteral("Where"),
                                  QStringLiteral("State"), QStringLiteral("Last result")});
    lstChannels->header()->setStretchLastSection(true);
    lstChannels->setAccessibleName(QStringLiteral("Channels"));
    cmdAdd = new QPushButton(QStringLiteral("&Add..."), this);
    cmdEdit = new QPushButton(QStringLiteral("&Edit..."), this);
    cmdPause = new QPushButton(QStringLiteral("&Pause"), this);
    cmdRemove = new QPushButton(QStringLiteral("&Remove"), this);
    cmdTest = new QPushButton(QStringLiteral("&Test"), this);
    cmdTest->setToolTip(QStringLiteral("Send a real test notice through the channel now"));
    lblResult = new QLabel(this);
    lblResult->setTextFormat(Qt::PlainText);
    lblResult->setWordWrap(true);
    auto *hint =
        new QLabel(QStringLiteral("A change of address goes to every channel not paused, besides the "
                                  "e-mail, the command and the desktop notification. A health ping "
                                  "is asked after every lookup that answered."),
                   this);
    hint->setWordWrap(true);

    auto *buttons = new QVBoxLayout;
    for (QPushButton *button : {cmdAdd, cmdEdit, cmdPause, cmdRemove, cmdTest}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    auto *list = new QHBoxLayout;
    list->addWidget(lstChannels, 1);
    list->addLayout(buttons);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addLayout(list, 1);
    layout->addWidget(lblResult);
    resize(720, 320);

    connect(cmdAdd, &QPushButton::clicked, this, &frmChannels::cmdAdd_Click);
    connect(cmdEdit, &QPushButton::clicked, this, &frmChannels::cmdEdit_Click);
    connect(cmdPause, &QPushButton::clicked, this, &frmChannels::cmdPause_Click);
    connect(cmdRemove, &QPushButton::clicked, this, &frmChannels::cmdRemove_Click);
    connect(cmdTest, &QPushButton::clicked, this, &frmChannels::cmdTest_Click);
    connect(lstChannels, &QTreeWidget::itemSelectionChanged, this, &frmChannels::ShowButtons);
    connect(lstChannels, &QTreeWidget::itemActivated, this, &frmChannels::cmdEdit_Click);
    connect(&m_monitor, &AddressMonitor::channelsChanged, this, &frmChannels::ShowChannels);
    connect(&m_monitor, &AddressMonitor::channelEnded, this, &frmChannels::ShowChannels);
    connect(&m_monitor, &AddressMonitor::channelTested, this,
            [this](const QString &name, bool delivered, const QString &cause) {
                lblResult->setText(delivered ? QStringLiteral("Test through %1: delivered.").arg(name)
                                             : QStringLiteral("Test through %1 failed: %2").arg(name, cause));
                ShowChannels();
            });
    ShowChannels();
    if (modIdentity::Identity().blnSkinEnabled)
        modSkin::runGuarded([this] { modSkin::SkinForm(this); });
}

void frmChannels::ShowChannels()
{
    const QString current = selected();
    const auto results = m_monitor.channelResults();
    lstChannels->clear();
    for (const ChannelConfig &channel : m_monitor.channels()) {
        QString last = QStringLiteral("none yet");
        if (const auto result = results.constFind(channel.name); result != results.cend())
            last = QLocale().toString(result->when.toLocalTime(), QLocale::ShortFormat) + u' ' +
                   (result->delivered ? QStringLiteral("delivered")
                                      : QStringLiteral("failed: ") + result->cause);
        auto *item = new QTreeWidgetItem(
            lstChannels,
            {channel.name, ChannelConfig::kindName(channel.kind), channel.where(),
             channel.paused ? QStringLiteral("paused")
             : channel.kind == ChannelConfig::Kind::Apprise && !AddressMonitor::appriseInstalled()
                 ? QStringLiteral("apprise not installed")
                 : QStringLiteral("on"),
             last});
        item->setToolTip(Last, last);
        if (channel.name == current)
            lstChannels->setCurrentItem(item);
    }
    if (!lstChannels->currentItem() && lstChannels->topLevelItemCount() > 0)
        lstChannels->setCurrentItem(lstChannels->topLevelItem(0));
    for (int column : {Name, Kind, Where, State})
        lstChannels->resizeColumnToContents(column);
    ShowButtons();
}

void frmChannels::ShowButtons()
{
    const QString name = selected();
    bool paused = false;
    for (const ChannelConfig &channel : m_monitor.channels())
        if (channel.name == name)
            paused = channel.paused;
    for (QPushButton *button : {cmdEdit, cmdPause, cmdRemove, cmdTest})
        button->setEnabled(!name.isEmpty());
    cmdPause->setText(paused ? QStringLiteral("Res&ume") : QStringLiteral("&Pause"));
    cmdAdd->setEnabled(m_monitor.channels().size() < ChannelList::MaxChannels);
}

QString frmChannels::selected() const
{
    const QTreeWidgetItem *item = lstChannels->currentItem();
    return item && item->isSelected() ? item->text(Name) : QString();
}

void frmChannels::cmdAdd_Click()
{
    frmChannelEdit edit(m_monitor, std::nullopt, this);
    edit.exec();
}

void frmChannels::cmdEdit_Click()
{
    for (const ChannelConfig &channel : m_monitor.channels())
        if (channel.name == selected()) {
            frmChannelEdit edit(m_monitor, channel, this);
            edit.exec();
            return;
        }
}

void frmChannels::cmdPause_Click()
{
    const QString name = selected();
    for (const ChannelConfig &channel : m_monitor.channels())
        if (channel.name == name)
            m_monitor.setChannelPaused(name, !channel.paused);
}

void frmChannels::cmdRemove_Click()
{
    const QString name = selected();
    if (name.isEmpty() ||
        QMessageBox::question(this, windowTitle(),
                              QStringLiteral("Remove the channel %1 and its token?").arg(name)) !=
            QMessageBox::Yes)
        return;
    m_monitor.removeChannel(name);
}

void frmChannels::cmdTest_Click()
{
    const QString name = selected();
    if (name.isEmpty())
        return;
    lblResult->setText(QStringLiteral("Sending a test notice through %1...").arg(name));
    if (!m_monitor.TestChannel(name))
        lblResult->setText(QStringLiteral("No channel is named %1.").arg(name));
}
