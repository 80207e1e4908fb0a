#pragma once

#include "SkinLabelArray.h"

#include <QDialog>
#include <functional>

class AddressMonitor;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

/// The mail server configuration window. Every edit goes to the model at once, which stores it and
/// hands it to the notification; there is no OK or Cancel. Closing it destroys it. Typed text reaches
/// the disk once typing pauses. The password goes to the keyring instead of the store.
class frmConfigure : public QDialog {
    Q_OBJECT
public:
    /// Client size in twips.
    static constexpr int WidthTwips = 3270;
    static constexpr int HeightTwips = 4650;

    /// sendTest runs the main window's send operation; the result shows in the main window.
    frmConfigure(AddressMonitor &monitor, std::function<void()> sendTest, QWidget *parent = nullptr);
    ~frmConfigure() override;

    /// Fills the boxes from the model's settings (server, port, recipient, sender), then skins the window.
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

    AddressMonitor &m_monitor;
    std::function<void()> m_sendTest;
};
