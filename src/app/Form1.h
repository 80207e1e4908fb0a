#pragma once

#include "AddressMonitor.h"
#include "Form2.h"
#include "Form8.h"
#include "IpSnapshot.h"
#include "SkinLabelArray.h"
#include "frmAbout.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class AddRemove;
class DnsConverter;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;
class QTimer;
class SettingsStore;
class SkinLabel;
class TrayIcon;
class frmConfigure;
class frmSources;
class frmHistory;
class frmChangeCommand;
class frmChannels;
struct IpSource;

/// The main window: both addresses, every option, the status line, the menus and the tray menu.
/// It owns the program's exit.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    /// Shows the model main() built and edits it through it; the store keeps the window's own settings.
    Form1(AddressMonitor &monitor, SettingsStore &store, QWidget *parent = nullptr);
    ~Form1() override;

    /// The load sequence: restores the options, adds the tray icon and starts the first lookup.
    void Form_Load();

    // Click actions that menus, timers and other windows run.
    void Command1_Click();
    void Command2_Click();
    void cmdCopy1_Click();
    void cmdCopy2_Click();
    void cmdSend_Click();
    void Command3_Click();
    void timRefresh_Timer();
    void cmdConvert_Click();
    void cmdConvert2_Click();
    void cmdWhois_Click();
    /// Opens the web browser window on the website; nothing happens where its library is missing.
    void cmdWebsite_Click();

    void mnuPopupShow_Click();
    /// Opens the help window; it stays hidden when it found no help file.
    void OpenHelp();
    void OpenAbout();
    /// Opens the address sources window.
    void OpenSources();
    /// Opens the address history window.
    void OpenHistory();
    /// Opens the window of the command run on a change.
    void OpenChangeCommand();
    void OpenChannels();
    /// Opens the tray menu at the cursor; the tray's left and right clicks land here.
    void ShowTrayMenu();

    /// Ends the program for SIGTERM or SIGINT: a mail session still running gets a bounded moment
    /// to finish, then the program ends whatever windows are open. Settings are saved on the way out.
    void EndForSignal();
    /// How the program ends; tests replace it to watch the end instead of quitting.
    void setEndProgram(std::function<void()> end) { m_endProgram = std::move(end); }
    /// The start-up window, unloaded with the others when this window closes.
    void setSplash(QWidget *splash) { m_splash = splash; }
    /// The web browser window: while it is shown, closing this window leaves the program running.
    void setWebsiteWindow(QWidget *window) { m_website = window; }
    QWidget *websiteWindow() const { return m_website; }
    /// Where the browser window's library is looked for; the program's folder unless a test says otherwise.
    void setModuleFolder(const QString &folder) { m_moduleFolder = folder; }

    AddressMonitor &monitor() { return *m_monitor; }
    TrayIcon *trayIcon() { return m_tray; }
    frmConfigure *configureWindow() const;
    Form2 *overlayWindow() const { return m_overlay; }
    Form8 *helpWindow() const { return m_help; }
    frmAbout *aboutWindow() const { return m_about; }
    frmSources *sourcesWindow() const;
    frmHistory *historyWindow() const;
    frmChangeCommand *changeCommandWindow() const;
    frmChannels *channelsWindow() const;
    /// Where the help window looks for its file; the program's folder unless a test says otherwise.
    void setHelpFolder(const QString &folder) { m_helpFolder = folder; }
    bool hasRegistry() const { return m_addRemove != nullptr; }
    QWidget *whoisWindow() const { return m_whois; }
    /// The DNS converter's lookups, answered off the user-interface thread.
    DnsConverter *converter() { return m_converter; }

    /// The whois query taken from Text3 by the last "Whois"; the whois window runs it when it loads.
    QString strWhoisQuery;

    // Controls, named as the window's design names them.
    QGroupBox *Frame1;                // "Local IP Addresses": both addresses and their copy buttons
    QGroupBox *Frame2;                // "DNS Converter"
    QGroupBox *Frame3;                // "Program Options": website, overlay switch, Refresh
    QGroupBox *Frame4;                // "Whois Lookup"
    QGroupBox *Frame5;                // "Automation Options": run at startup, auto refresh
    QGroupBox *Frame6;                // "Email Notification Options"
    SkinLabel *Label1;                // the external address
    SkinLabel *Label2;                // the internal address
    SkinLabel *Label3, *Label4;       // the captions "Internal:" and "External:"
    SkinLabel *Label8, *Label9;       // the internal and external IPv6 address, shown with the families apart
    QLabel *Label5, *Label6, *Label7; // captions of Text1, Text2 and Text3
    // The skin's label copies, one array per frame but Frame3, each from an invisible template.
    SkinLabelArray SkinLabel1, SkinLabel2, SkinLabel3, SkinLabel4, SkinLabel5;
    QToolButton *cmdCopy1, *cmdCopy2;      // copy the internal / the external address
    QPushButton *cmdConvert, *cmdConvert2; // address to name / name to address
    QPushButton *cmdWhois, *cmdWebsite;
    QPushButton *Command1; // Refresh: runs a lookup
    QPushButton *Command2; // switches the address overlay on and off
    QPushButton *Command3; // "Email Configuration": opens the mail dialog
    QPushButton *cmdSend;  // hidden; its click is the send operation of the notification
    QLineEdit *Text1;      // DNS converter: IP address
    QLineEdit *Text2;      // DNS converter: domain name
    QLineEdit *Text3;      // whois query
    QLineEdit *txtStatus;  // the status line, read-only
    QCheckBox *Check1;     // "Auto Refresh Every:"
    QCheckBox *Check2;     // "Run at startup"
    QCheckBox *Check3;     // "Use Email Notification"
    QComboBox *cmbRefresh; // the auto-refresh interval
    QTimer *timRefresh;    // one-second tick of the auto-refresh schedule
    QMenu *mnuFile, *mnuEdit, *mnuAction, *mnuHelp, *mnuAbout;
    QMenu *mnuPopup; // the tray menu
    QAction *mnuFileItem[2], *mnuEditItem[2], *mnuActionItem[2], *mnuHelpItem[1], *mnuAboutItem[1];
    QAction *mnuPopupItem[3];
    QAction *mnuSources;       // Action, "Address Sources..."
    QAction *mnuHistory;       // Action, "Address History..."
    QAction *mnuChangeCommand; // Action, "Run Command on Change..."
    QAction *mnuNotifyDesktop; // Action, a check item: the tray's message when an address changes
    QAction *mnuWatchNetwork;  // Action, a check item: a lookup when the network changes
    QAction *mnuChannels;      // Action: the notice channels beyond the mail

signals:
    void programEnding();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void nameControls();
    void buildMenus();
    void applyFonts();

    void Check1_Click();
    void Check2_Click();
    void WriteStartupEntry(bool on);
    void Check3_Click();
    void cmbRefresh_Click();

    void Form_QueryUnload();
    void Form_Unload();
    void OnAddressesShown(const IpSnapshot &current);
    void OnAddresses6Shown(const IpSnapshot &current6);
    /// Places the frames for one address line per family (on) or the designed one (off).
    void layOutFamilies(bool on);
    /// "Internal:" and "External:", naming both families while each has its line.
    void showCaptions();
    void OnLookupFinished(const LookupResult &result);
    void SetStatus(const QString &text);
    /// The overlay, created (hidden, and starting a lookup of its own) on first use.
    Form2 *overlay();
    /// Sets the option controls to the monitor's options without running their actions.
    void ShowOptions();
    /// Gives the lookup the stored address sources.
    void mnuNotifyDesktop_Click();
    void mnuWatchNetwork_Click();
    /// The tray icon's tool tip, and its message when an address changed and the user asked for it.
    void TellTheTray(const LookupResult &result);
    /// Nothing can answer: the tray says once where to choose a source, and its tool tip keeps saying
    /// it until a lookup succeeds.
    void PointToTheSources();
    /// The tray's tool tip from the addresses last shown, both families' while they are followed apart.
    void ShowTrayTip();

    AddressMonitor *m_monitor;
    SettingsStore *m_store;
    std::unique_ptr<AddRemove> m_addRemove;
    DnsConverter *m_converter = nullptr;
    TrayIcon *m_tray = nullptr;
    QPointer<frmConfigure> m_configure;
    // Windows unloaded by the close sequence: overlay, help, mail dialog, splash, whois.
    QPointer<Form2> m_overlay;
    QPointer<Form8> m_help;
    QPointer<QWidget> m_splash, m_whois;
    QPointer<frmAbout> m_about;
    QPointer<frmSources> m_sources;
    QPointer<frmHistory> m_historyWindow;
    QPointer<frmChangeCommand> m_changeCommand;
    QPointer<frmChannels> m_channels;
    QString m_helpFolder;
    QString m_moduleFolder;
    QPointer<QWidget> m_website;
    std::function<void()> m_endProgram;
    bool m_closing = false;
    bool m_placed = false; // centred on the screen at the first show
    // The tray's tool tip: the last lookup's addresses and the sources that confirmed them, the IPv6
    // ones as shown, and whether it shows them (rather than the hint to choose a source).
    IpSnapshot m_trayAddresses, m_trayAddresses6;
    QStringList m_trayConfirmedBy;
    bool m_trayShowsAddresses = false;
};
