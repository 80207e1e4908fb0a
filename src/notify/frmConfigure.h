#pragma once

#include "SkinLabelArray.h"

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class SettingsStore;
struct MailSettings;

/// The mail server configuration window. Every edit is stored at once, in the store and in the
/// in-memory settings the notification reads; there is no OK or Cancel. Closing it destroys it.
class frmConfigure : public QDialog {
    Q_OBJECT
public:
    /// Client size in twips.
    static constexpr int WidthTwips = 3270;
    static constexpr int HeightTwips = 2910;

    /// sendTest runs the main window's send operation; the result shows in the main window.
    frmConfigure(SettingsStore &store, MailSettings &settings, std::function<void()> sendTest,
                 QWidget *parent = nullptr);

    /// Fills the boxes from the in-memory settings (server, port, recipient, sender), then skins the window.
    void Form_Load();
    void cmdSend_Click();

    QLabel *lblServer, *lblPort, *lblEmailTo, *lblEmailFrom;
    QLineEdit *txtServer, *txtPort, *txtEmailTo, *txtEmailFrom;
    QPushButton *cmdSend;
    SkinLabelArray SkinLabel1; // the skin's copies of the captions, from an invisible template

private:
    void buildControls();
    void txtServer_Change();
    void txtPort_Change();
    void txtEmailTo_Change();
    void txtEmailFrom_Change();

    SettingsStore &m_store;
    MailSettings &m_settings;
    std::function<void()> m_sendTest;
};
