#pragma once

#include "ChannelConfig.h"

#include <QDialog>

class AddressMonitor;
class QComboBox;
class QDialogButtonBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QSpinBox;

/// Adds a notice channel, or edits one: its kind, name, where it goes and its token or secret, which
/// goes to the keyring. A secret left empty while editing keeps the one the channel has.
class frmChannelEdit : public QDialog {
    Q_OBJECT
public:
    /// `was`: the channel edited; nullopt adds one.
    frmChannelEdit(AddressMonitor &monitor, const std::optional<ChannelConfig> &was,
                   QWidget *parent = nullptr);

    QComboBox *cboKind;
    QLineEdit *txtName, *txtUrl, *txtTopic, *txtSecret, *txtFailUrl;
    QSpinBox *spnPriority;
    QLabel *lblUrl, *lblTopic, *lblSecret, *lblFailUrl, *lblPriority, *lblProblem;
    QDialogButtonBox *cmdButtons;

    /// The channel as the fields say.
    ChannelConfig channel() const;

private:
    void cboKind_Change();
    void cmdOK_Click();

    AddressMonitor &m_monitor;
    QFormLayout *m_form;
    QString m_was; // the edited channel's name; empty when adding
    bool m_paused = false;
};
