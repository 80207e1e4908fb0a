#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class AddressMonitor;

/// The command run after an address change: its command line, stored as typed, and a Test that runs
/// it once with the addresses the program knows now. There is no OK or Cancel. Closing it destroys it.
class frmChangeCommand : public QDialog {
    Q_OBJECT
public:
    explicit frmChangeCommand(AddressMonitor &monitor, QWidget *parent = nullptr);
    ~frmChangeCommand() override;

    QLabel *lblCommand, *lblHint, *lblResult;
    QLineEdit *txtCommand;
    QPushButton *cmdTest;
    QPlainTextEdit *txtOutput; // the test's output, as far as it is kept

private:
    void buildControls();
    void txtCommand_Change();
    void cmdTest_Click();
    void test_Ended(const QString &output);

    AddressMonitor &m_monitor;
};
