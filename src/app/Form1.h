#pragma once

#include "IpSnapshot.h"
#include "MailSettings.h"
#include "RefreshSchedule.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class AddRemove;
class LookupCycle;
class PageFetcher;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class SettingsStore;
class SkinLabel;
class SmtpSession;
class TrayIcon;
class Winsock;
class frmConfigure;

/// The main window: both addresses, every option, the status line, the menus and the tray menu.
/// It owns the program's exit.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
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

    void mnuPopupShow_Click();
    /// Opens the tray menu at the cursor; the tray's left and right clicks land here.
    void ShowTrayMenu();

    /// How the program ends; tests replace it to watch the end instead of quitting.
    void setEndProgram(std::function<void()> end) { m_endProgram = std::move(end); }
    /// The start-up window, unloaded with the others when this window closes.
    void setSplash(QWidget *splash) { m_splash = splash; }
    /// The web browser window: while it is shown, closing this window leaves the program running.
    void setWebsiteWindow(QWidget *window) { m_website = window; }

    SettingsStore &store() { return *m_store; }
    MailSettings &mailSettings() { return m_mail; }
    SmtpSession *session() { return m_session; }
    LookupCycle *lookup() { return m_lookup; }
    PageFetcher *webBrowser() { return WebBrowser1; }
    RefreshSchedule &schedule() { return m_schedule; }
    TrayIcon *trayIcon() { return m_tray; }
    frmConfigure *configureWindow() const;
    bool hasRegistry() const { return m_addRemove != nullptr; }
    QWidget *whoisWindow() const { return m_whois; }

    /// The whois query taken from Text3 by the last "Whois"; the whois window runs it when it loads.
    QString strWhoisQuery;

    // Controls, named as the window's design names them.
    QGroupBox *Frame1, *Frame2, *Frame3, *Frame4, *Frame5, *Frame6;
    SkinLabel *Label1, *Label2, *Label3, *Label4;
    QLabel *Label5, *Label6, *Label7;
    QPushButton *cmdCopy1, *cmdCopy2, *cmdConvert, *cmdConvert2, *cmdWhois;
    QPushButton *cmdWebsite, *Command1, *Command2, *Command3, *cmdSend;
    QLineEdit *Text1, *Text2, *Text3, *txtStatus;
    QCheckBox *Check1, *Check2, *Check3;
    QComboBox *cmbRefresh;
    QTimer *timRefresh;
    Winsock *Winsock1, *Winsock2;
    PageFetcher *WebBrowser1;
    QMenu *mnuFile, *mnuEdit, *mnuAction, *mnuHelp, *mnuAbout, *mnuPopup;
    QAction *mnuFileItem[2], *mnuEditItem[2], *mnuActionItem[2], *mnuHelpItem[1], *mnuAboutItem[1];
    QAction *mnuPopupItem[3];

signals:
    /// The help window is to open at start (it arrives with the help window itself).
    void helpWindowRequested();
    void overlayToggled();
    void programEnding();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void applyFonts();

    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
    void cmbRefresh_Click();

    void Form_QueryUnload();
    void Form_Unload();
    void OnAddressesShown(const IpSnapshot &current);
    void OnLookupCompleted(const IpSnapshot &current, bool changed);
    void SetStatus(const QString &text);
    void RestoreCheck(QCheckBox *box, const QString &storedText);
    static void runGuarded(const std::function<void()> &step);

    std::unique_ptr<SettingsStore> m_store;
    MailSettings m_mail;
    RefreshSchedule m_schedule;
    std::unique_ptr<AddRemove> m_addRemove;
    LookupCycle *m_lookup = nullptr;
    SmtpSession *m_session = nullptr;
    TrayIcon *m_tray = nullptr;
    QPointer<frmConfigure> m_configure;
    // Windows unloaded by the close sequence, in this order; each is set once it exists.
    QPointer<QWidget> m_overlay, m_help;
    QPointer<QWidget> m_splash, m_whois;
    QPointer<QWidget> m_website;
    std::function<void()> m_endProgram;
    bool m_closing = false;
};
