#pragma once

#include <QDialog>

class AddressMonitor;
class QLabel;
class QPushButton;
class QTreeWidget;

/// The notice channels beyond the mail: each with where it goes and its last result; adds, edits,
/// pauses, removes, and a Test that sends a real test notice and shows the answer here. Closing it
/// destroys it.
class frmChannels : public QDialog {
    Q_OBJECT
public:
    explicit frmChannels(AddressMonitor &monitor, QWidget *parent = nullptr);

    QTreeWidget *lstChannels; // name, kind, where, state, last result
    QPushButton *cmdAdd, *cmdEdit, *cmdPause, *cmdRemove, *cmdTest;
    QLabel *lblResult; // the last test's answer or cause

private:
    void ShowChannels();
    void ShowButtons();
    QString selected() const;
    void cmdAdd_Click();
    void cmdEdit_Click();
    void cmdPause_Click();
    void cmdRemove_Click();
    void cmdTest_Click();

    AddressMonitor &m_monitor;
};
