#pragma once

#include "MailSettings.h"
#include "SkinLabelArray.h"

#include <QDialog>
#include <functional>

class MailPassword;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SettingsStore;

/// The mail server configuration window. Every edit is stored at once, in the store and in the
/// in-memory settings the notification reads; there is no OK or Cancel. Closing it destroys it.
/// Typed text reaches the disk once typing pauses. The password goes to the keyring instead of the
/// store.
class frmConfigure : public QDialog {
    Q_OBJECT
public:
    /// Client size in twips.
    static constexpr int WidthTwips = 3270;
    static constexpr int HeightTwips = 4650;

    /// sendTest runs the main window's send operation; the result shows in the main window. Without a
    /// keyring object the password is kept in memory only.
    frmConfigure(SettingsStore &store, SharedMailSettings &settings, MailPassword *password,
                 std::function<void()> sendTest, QWidget *parent = nullptr);
    ~frmConfigure() override;

    /// Fills the boxes from the in-memory settings (server, port, recipient, sender), then skins the window.
    void Form_Load();
    void cmdSend_Click();

    QLabel *lblServer, *lblPort, *lblEmailTo, *lblEmailFrom, *lblSecurity, *lblUser, *lblPassword;
    QLineEdit *txtServer, *txtPort, *txtEmailTo, *txtEmailFrom, *txtUser, *txtPassword;
    QComboBox *cmbSecurity;
    QLabel *lblKeyring = nullptr;     // made and shown while no keyring keeps the password
    QLabel *lblSaveFailure = nullptr; // made and shown while the settings file cannot be written
    QPushButton *cmdSend;
    SkinLabelArray SkinLabel1; // the skin's copies of the captions, from an invisible template

private:
    void buildControls();
    void txtServer_Change();
    void txtPort_Change();
    void txtEmailTo_Change();
    void txtEmailFrom_Change();
    void cmbSecurity_Click();
    void txtUser_Change();
    void txtPassword_Change();
    void ShowKeyring();
    void ShowSaveFailure(const QString &reason);

    SettingsStore &m_store;
    SharedMailSettings &m_settings;
    MailPassword *m_password;
    std::function<void()> m_sendTest;
};
