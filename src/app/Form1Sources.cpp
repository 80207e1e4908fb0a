// The main window's part in address sources and in telling the user through the tray icon.
#include "Form1.h"

#include "AddressMonitor.h"
#include "IpSourceList.h"
#include "LabelFit.h"
#include "SkinLabel.h"
#include "frmChangeCommand.h"
#include "frmChannels.h"
#include "frmHistory.h"
#include "frmSources.h"
#include "modIdentity.h"
#include "modTaskbar.h"

#include <QAction>

namespace {
QString addressLines(const IpSnapshot &current, const QString &family = QString())
{
    return QStringLiteral("Internal") + family + QStringLiteral(": ") + LabelFit::brief(current.internal) +
           QStringLiteral("\nExternal") + family + QStringLiteral(": ") + LabelFit::brief(current.external);
}
} // namespace

frmSources *Form1::sourcesWindow() const
{
    return m_sources;
}

void Form1::OpenSources()
{
    if (!m_sources) {
        m_sources = new frmSources(*m_monitor, IpSourceList::publicServices());
    }
    m_sources->show();
    m_sources->raise();
    m_sources->activateWindow();
}

frmHistory *Form1::historyWindow() const
{
    return m_historyWindow;
}

void Form1::OpenHistory()
{
    if (!m_historyWindow)
        m_historyWindow = new frmHistory(m_monitor->historyFile());
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
}

frmChangeCommand *Form1::changeCommandWindow() const
{
    return m_changeCommand;
}

void Form1::OpenChangeCommand()
{
    if (!m_changeCommand) {
        m_changeCommand = new frmChangeCommand(*m_monitor);
    }
    m_changeCommand->show();
    m_changeCommand->raise();
    m_changeCommand->activateWindow();
}

frmChannels *Form1::channelsWindow() const
{
    return m_channels;
}

void Form1::OpenChannels()
{
    if (!m_channels)
        m_channels = new frmChannels(*m_monitor);
    m_channels->show();
    m_channels->raise();
    m_channels->activateWindow();
}

void Form1::mnuNotifyDesktop_Click()
{
    m_monitor->setDesktopNotify(mnuNotifyDesktop->isChecked());
}

void Form1::mnuWatchNetwork_Click()
{
    m_monitor->setWatchNetwork(mnuWatchNetwork->isChecked());
}

void Form1::PointToTheSources()
{
    const QString name = modIdentity::Identity().strProgramName;
    const QString hint =
        QStringLiteral("No address source answers. Choose one in Action, Address Sources...");
    m_trayShowsAddresses = false;
    m_tray->setToolTip(name + QLatin1Char('\n') + hint);
    m_tray->Hint(name, hint);
}

void Form1::TellTheTray(const LookupResult &result)
{
    const QString name = modIdentity::Identity().strProgramName;
    m_trayShowsAddresses = true;
    m_trayAddresses = result.current;
    m_trayConfirmedBy = result.confirmedBy;
    ShowTrayTip();
    if (result.changed && m_monitor->desktopNotify())
        m_tray->Notify(name + QStringLiteral(": address changed"), addressLines(result.current));
}

void Form1::ShowTrayTip()
{
    QString tip = modIdentity::Identity().strProgramName + QLatin1Char('\n');
    if (m_monitor->followFamilies()) {
        tip += addressLines(m_trayAddresses, QStringLiteral(" IPv4")) + QLatin1Char('\n') +
               addressLines(m_trayAddresses6, QStringLiteral(" IPv6"));
    } else {
        tip += addressLines(m_trayAddresses);
    }
    if (!m_trayConfirmedBy.isEmpty())
        tip += QStringLiteral("\nConfirmed by ") + m_trayConfirmedBy.join(QStringLiteral(", "));
    m_tray->setToolTip(tip);
}
