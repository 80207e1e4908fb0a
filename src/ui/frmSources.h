#pragma once

#include "AddressMonitor.h"
#include "IpSource.h"

#include <QDialog>
#include <QList>
#include <QUrl>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

/// The address sources window: which sources a lookup asks, in which order, and a Test that asks
/// each one. Every change is stored at once; there is no OK or Cancel. Closing it destroys it.
class frmSources : public QDialog {
    Q_OBJECT
public:
    enum Column { ColumnSource, ColumnAnswer, ColumnTime };

    /// The product's page in force (the build's host or NETQUILL_IP_HOST) is the one Test asks.
    /// offer: the services listed, switched off, when the stored list leaves them out.
    frmSources(AddressMonitor &monitor, QList<IpSource> offer, QWidget *parent = nullptr);
    ~frmSources() override;

    /// The rows as shown, switched-off ones included.
    QList<IpSource> sources() const;

    QLabel *lblSources, *lblCustom, *lblHint;
    QLabel *lblListNote; // under the list: why a source stays switched on
    QLabel *lblAddNote;  // under the custom URL: why it cannot be added
    QTreeWidget *lstSources;
    QPushButton *cmdUp, *cmdDown, *cmdRemove, *cmdTest;
    QLineEdit *txtCustom;
    QPushButton *cmdAdd;
    QCheckBox *chkConfirm; // the confirmChanges option
    QLabel *lblConfirm;
    QCheckBox *chkFamilies; // the followFamilies option

private:
    struct Row {
        IpSource source;
        QString answer; // as the cell shows it: on one line, cut short
        QString tip;    // the whole answer, as the cell's tool tip
        QString time;
    };

    void buildControls();
    void Form_Load();
    void fill(int current);
    void save();
    bool isCustom(const IpSource &source) const;
    int enabledCount() const;
    void updateButtons();
    /// Why the typed URL cannot be added; empty when it can, or when nothing is typed.
    QString whyNotAdded(const QString &typed) const;

    void lstSources_ItemChanged(QTreeWidgetItem *item, int column);
    void move(int by);
    void cmdRemove_Click();
    void cmdAdd_Click();
    void cmdTest_Click();
    void test_Answered(int index, const AddressMonitor::SourceTestAnswer &answer);

    AddressMonitor &m_monitor;
    QUrl m_page;
    QList<IpSource> m_offer;
    QList<Row> m_rows;
    QList<IpSource> m_probed; // what the running Test asks, by its index
};
