#include "Form1.h"

#include "AddRemove.h"
#include "AddressMonitor.h"
#include "DnsConverter.h"
#include "Form2.h"
#include "Form8.h"
#include "LabelFit.h"
#include "ScreenCentre.h"
#include "SettingsStore.h"
#include "SkinEngine.h"
#include "SkinLabel.h"
#include "StartupCommand.h"
#include "WebsiteModule.h"
#include "frmAbout.h"
#include "frmChangeCommand.h"
#include "frmChannels.h"
#include "frmConfigure.h"
#include "frmHistory.h"
#include "frmSources.h"
#include "frmWhois.h"
#include "modIdentity.h"
#include "modSkin.h"
#include "modTaskbar.h"

#include <netquill/BuildIdentity.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>

Form1::Form1(AddressMonitor &monitor, SettingsStore &store, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_monitor(&monitor), m_store(&store), m_helpFolder(QCoreApplication::applicationDirPath()),
      m_moduleFolder(QCoreApplication::applicationDirPath()), m_endProgram([] { QCoreApplication::exit(0); })
{
    buildControls();
    buildMenus();
    applyFonts();

    // What the window shows and changes lives in the monitor, the auto-refresh clock too.
    timRefresh = m_monitor->clock();
    // The values of a save that failed stay in the store and go out with its next save.
    connect(m_store, &SettingsStore::saveFailed, this,
            [this](const QString &reason) { SetStatus(QStringLiteral("Error: ") + reason); });
    connect(m_monitor, &AddressMonitor::statusChanged, this, &Form1::SetStatus);
    connect(m_monitor, &AddressMonitor::addressesShown, this, &Form1::OnAddressesShown);
    connect(m_monitor, &AddressMonitor::addresses6Shown, this, &Form1::OnAddresses6Shown);
    connect(m_monitor, &AddressMonitor::followFamiliesChanged, this, [this](bool on) {
        layOutFamilies(on);
        if (m_overlay)
            m_overlay->ShowFamilies(on);
        OnAddresses6Shown(m_monitor->current6().addresses);
    });
    connect(m_monitor, &AddressMonitor::lookupFinished, this, &Form1::OnLookupFinished);
    connect(m_monitor, &AddressMonitor::sourceNeeded, this, &Form1::PointToTheSources);

    m_tray = new TrayIcon(this);
    connect(m_tray, &TrayIcon::menuRequested, this, &Form1::ShowTrayMenu);
    // A window hidden in a tray that goes away would be lost: it comes back, minimized.
    connect(m_tray, &TrayIcon::shownChanged, this, [this](bool shown) {
        if (!shown && !isVisible() && !m_closing && m_tray->isAdded())
            showMinimized();
    });

    m_converter = new DnsConverter(this);
    connect(m_converter, &DnsConverter::converted, this,
            [this](DnsConverter::Direction direction, const QString &result) {
                (direction == DnsConverter::Direction::AddressToName ? Text2 : Text1)->setText(result);
            });

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(cmdCopy1, &QToolButton::clicked, this, &Form1::cmdCopy1_Click);
    connect(cmdCopy2, &QToolButton::clicked, this, &Form1::cmdCopy2_Click);
    connect(cmdSend, &QPushButton::clicked, this, &Form1::cmdSend_Click);
    connect(cmdConvert, &QPushButton::clicked, this, &Form1::cmdConvert_Click);
    connect(cmdConvert2, &QPushButton::clicked, this, &Form1::cmdConvert2_Click);
    connect(cmdWhois, &QPushButton::clicked, this, &Form1::cmdWhois_Click);
    connect(cmdWebsite, &QPushButton::clicked, this, &Form1::cmdWebsite_Click);
    // Enter converts; the key still goes on to the box.
    connect(Text1, &QLineEdit::returnPressed, this, &Form1::cmdConvert_Click);
    connect(Text2, &QLineEdit::returnPressed, this, &Form1::cmdConvert2_Click);
    // A state set from code runs the same action as a click, but only when it really changes.
    connect(Check1, &QCheckBox::stateChanged, this, &Form1::Check1_Click);
    connect(Check2, &QCheckBox::stateChanged, this, &Form1::Check2_Click);
    connect(Check3, &QCheckBox::stateChanged, this, &Form1::Check3_Click);
    connect(cmbRefresh, &QComboBox::currentIndexChanged, this, &Form1::cmbRefresh_Click);

    // The desktop session is about to end: what is being saved reaches the disk, but the program
    // stays, as the session manager may still cancel; if not, it ends the program with SIGTERM.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { m_store->WaitForWrites(); });
}

Form1::~Form1()
{
    // The other windows are top-level windows of their own, so that they stay on the screen while
    // this one is hidden in the tray; they are deleted here, before what they refer to.
    delete m_configure;
    delete m_help;
    delete m_overlay;
    delete m_about;
    delete m_sources;
    delete m_historyWindow;
    delete m_changeCommand;
    delete m_channels;
}

frmConfigure *Form1::configureWindow() const
{
    return m_configure;
}

void Form1::Form_Load()
{
    m_addRemove = std::make_unique<AddRemove>();
    m_monitor->setStartupEntry([this](bool on) { WriteStartupEntry(on); });
    m_tray->AddTrayIcon(windowIcon(), QStringLiteral("Animated TrayIcon"));
    m_monitor->Load();
    m_monitor->WriteBackRestored();
    const ProductIdentity &identity = modIdentity::Identity();
    ShowOptions();

    setWindowTitle(identity.strProgramName + QStringLiteral(" by ") + identity.strCompany);
    cmdWebsite->setText(QStringLiteral("Visit ") + identity.strWebsite);

    // From the skin step on, a step that fails is skipped and the load goes on.
    if (identity.blnSkinEnabled) {
        modSkin::runGuarded([this] {
            modSkin::SubstituteSkinLabels(
                this, {&SkinLabel1, &SkinLabel2, &SkinLabel3, &SkinLabel4, &SkinLabel5}, true);
        });
        modSkin::runGuarded([this] { modSkin::SkinForm(this); });
    }
    // The request goes out before the help window is built and laid out, which takes longer than a
    // bare window's whole start. Nothing is drawn and no answer is handled before this returns to the
    // event loop, so what the user sees comes in the same order.
    modSkin::runGuarded([this] { Command1_Click(); });
    modSkin::runGuarded([this] {
        if (m_store->GetSetting(SettingKeys::ShowHelp) == QLatin1String("1"))
            OpenHelp();
    });
}

void Form1::ShowOptions()
{
    // Shown, not applied: the monitor has applied them, and nothing is written back.
    const auto checkState = [](bool on) { return on ? Qt::Checked : Qt::Unchecked; };
    const QSignalBlocker block1(Check1), block2(Check2), block3(Check3), block4(cmbRefresh),
        block5(mnuNotifyDesktop), block6(mnuWatchNetwork);
    Check1->setCheckState(checkState(m_monitor->autoRefresh()));
    Check2->setCheckState(checkState(m_monitor->runAtStartup()));
    Check3->setCheckState(checkState(m_monitor->emailNotify()));
    cmbRefresh->setCurrentIndex(m_monitor->refreshPosition());
    mnuNotifyDesktop->setChecked(m_monitor->desktopNotify());
    mnuWatchNetwork->setChecked(m_monitor->watchNetwork());
    Command3->setEnabled(m_monitor->emailNotify());
    layOutFamilies(m_monitor->followFamilies());
    if (m_monitor->followFamilies())
        OnAddresses6Shown(m_monitor->current6().addresses);
}

void Form1::SetStatus(const QString &text)
{
    const bool changed = txtStatus->text() != text;
    txtStatus->setText(text);
    // A long error (a server's reply, a certificate problem) would otherwise show only its end; its
    // beginning says what went wrong, and the tool tip holds all of it.
    txtStatus->setCursorPosition(0);
    txtStatus->setToolTip(text);
    // The status line is a status bar named by its text to screen readers: a new text is a new name.
    if (changed) {
        QAccessibleEvent event(txtStatus, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void Form1::Command1_Click()
{
    m_monitor->Refresh();
}

void Form1::OnAddressesShown(const IpSnapshot &current)
{
    // An IPv6 address is wider than the labels: it is set smaller rather than cut off.
    LabelFit::showWhole(Label1, current.external, centralWidget()->font());
    LabelFit::showWhole(Label2, current.internal, centralWidget()->font());
    Label2->setToolTip(LabelFit::brief(current.internal));
}

void Form1::OnAddresses6Shown(const IpSnapshot &current6)
{
    const std::pair<SkinLabel *, const QString &> rows[] = {{Label8, current6.internal},
                                                            {Label9, current6.external}};
    // Always on one line, set smaller where needed: the two lines look alike whatever room lies below.
    for (const auto &[label, address] : rows) {
        label->setFont(LabelFit::fitting(centralWidget()->font(), address, label->contentsRect().width()));
        label->setText(address);
        label->setToolTip(LabelFit::brief(address));
    }
    if (m_overlay)
        m_overlay->ShowAddresses6(current6);
    m_trayAddresses6 = current6;
    if (m_trayShowsAddresses)
        ShowTrayTip();
}

void Form1::OnLookupFinished(const LookupResult &result)
{
    if (m_closing || !result.answered())
        return;
    Label1->setToolTip(LabelFit::brief(result.current.external) + QStringLiteral("\nAnswered by ") +
                       result.source);
    showCaptions();
    Form2 *addresses = overlay();
    addresses->ShowAddresses(result.current);
    TellTheTray(result);
}

Form2 *Form1::overlay()
{
    if (!m_overlay) {
        m_overlay = new Form2;
        m_overlay->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_overlay, &Form2::refreshRequested, this, &Form1::Command1_Click);
        connect(m_overlay, &Form2::hideRequested, this,
                [this] { Command2->setText(QStringLiteral("Turn on IP Address Overlay")); });
        m_overlay->ShowFamilies(m_monitor->followFamilies());
        m_overlay->ShowAddresses6(m_monitor->current6().addresses);
        m_overlay->Form_Load();
    }
    return m_overlay;
}

void Form1::Command2_Click()
{
    if (overlay()->isVisible()) {
        Command2->setText(QStringLiteral("Turn on IP Address Overlay"));
        m_overlay->hide();
    } else {
        Command2->setText(QStringLiteral("Turn off IP Address Overlay"));
        m_overlay->show();
    }
}

void Form1::OpenHelp()
{
    if (!m_help) {
        m_help = new Form8(*m_store, m_helpFolder);
        m_help->Form_Load();
    }
    if (m_help->hasHelpFile()) {
        m_help->show();
        m_help->raise();
    }
}

void Form1::OpenAbout()
{
    if (!m_about) {
        m_about = new frmAbout;
        m_about->Form_Load();
    }
    m_about->show();
    m_about->raise();
}

void Form1::cmdCopy1_Click()
{
    QGuiApplication::clipboard()->setText(m_monitor->current().addresses.internal);
}

void Form1::cmdCopy2_Click()
{
    QGuiApplication::clipboard()->setText(m_monitor->current().addresses.external);
}

void Form1::cmdSend_Click()
{
    m_monitor->SendMail();
}

void Form1::Command3_Click()
{
    if (!m_configure) {
        m_configure = new frmConfigure(*m_monitor, [this] { cmdSend_Click(); });
        m_configure->show();
    } else {
        m_configure->show();
        m_configure->raise();
        m_configure->activateWindow();
    }
}

// The result replaces the other box's text when the resolver answers, and a failure clears it; the
// window goes on meanwhile.
void Form1::cmdConvert_Click()
{
    m_converter->convert(DnsConverter::Direction::AddressToName, Text1->text());
}

void Form1::cmdConvert2_Click()
{
    m_converter->convert(DnsConverter::Direction::NameToAddress, Text2->text());
}

void Form1::cmdWhois_Click()
{
    strWhoisQuery = Text3->text();
    // While the window is open it keeps its answer; the stored query runs when it is opened again.
    if (!m_whois) {
        m_whois = new frmWhois(strWhoisQuery);
        m_whois->show();
    } else {
        m_whois->show();
        m_whois->raise();
        m_whois->activateWindow();
    }
}

void Form1::cmdWebsite_Click()
{
    if (!m_website) {
        WebsiteHost host = WebsiteModule::Host();
        host.EndProgram = m_endProgram;
        m_website = WebsiteModule::Create(m_moduleFolder, host);
        if (!m_website)
            return;
    }
    m_website->show();
    m_website->raise();
    m_website->activateWindow();
}

void Form1::timRefresh_Timer()
{
    m_monitor->Tick();
}

void Form1::Check1_Click()
{
    m_monitor->setAutoRefresh(Check1->checkState() == Qt::Checked);
}

void Form1::cmbRefresh_Click()
{
    m_monitor->setRefreshPosition(cmbRefresh->currentIndex());
}

void Form1::Check2_Click()
{
    m_monitor->setRunAtStartup(Check2->checkState() == Qt::Checked);
}

void Form1::WriteStartupEntry(bool on)
{
    // The registry helper lives from the load to the unload.
    if (!m_addRemove)
        return;
    const QString name = modIdentity::Identity().strProgramName;
    if (on)
        m_addRemove->AddToRun(name, QDir::toNativeSeparators(StartupCommand::ForThisProgram()));
    else
        m_addRemove->RemoveFromRun(name);
}

void Form1::Check3_Click()
{
    const bool checked = Check3->checkState() == Qt::Checked;
    Command3->setEnabled(checked);
    m_monitor->setEmailNotify(checked);
}

void Form1::mnuPopupShow_Click()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
}

void Form1::ShowTrayMenu()
{
    mnuPopup->popup(QCursor::pos());
}

void Form1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimized, the window leaves the taskbar and lives on in the tray; without a tray icon it
    // stays on the taskbar, the only way back to it.
    if (event->type() == QEvent::WindowStateChange && !m_closing) {
        if (isMinimized())
            QTimer::singleShot(0, this, [this] {
                if (isMinimized() && m_tray->isShown())
                    hide();
            });
    }
}

void Form1::showEvent(QShowEvent *event)
{
    if (!m_placed) {
        m_placed = true;
        ScreenCentre::place(this);
    }
    QMainWindow::showEvent(event);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    m_closing = true;
    Form_QueryUnload();
    event->accept();
    Form_Unload();
}

void Form1::Form_QueryUnload()
{
    m_tray->RemoveTrayIcon();
}

void Form1::Form_Unload()
{
    m_addRemove.reset();
    // The monitor stops with this window, also while the browser window keeps the program running.
    m_monitor->Stop();
    const QList<QPointer<QWidget>> windows = {
        m_overlay.data(), m_help.data(),          m_configure.data(),     m_splash,         m_whois,
        m_sources.data(), m_historyWindow.data(), m_changeCommand.data(), m_channels.data()};
    for (const QPointer<QWidget> &window : windows) {
        if (window)
            window->close();
    }
    if (m_website && m_website->isVisible()) {
        WebsiteModule::blnExitPending = true;
        return;
    }
    if (modIdentity::Identity().blnSkinEnabled)
        modSkin::Engine()->Stop();
    emit programEnding();
    m_endProgram();
}

void Form1::EndForSignal()
{
    m_monitor->EndAfterMail([this] { m_endProgram(); });
}
