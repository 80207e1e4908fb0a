#pragma once

#include "AddressHistory.h"

#include <QDialog>
#include <QList>

class QFileSystemWatcher;
class QLabel;
class QPushButton;
class QTreeWidget;

/// The address history window: the changes and outages the lookups recorded, newest first, with Copy
/// and a Clear that asks first. It follows the file while it is open. Closing it destroys it.
class frmHistory : public QDialog {
    Q_OBJECT
public:
    enum Column { ColumnTime, ColumnEvent, ColumnOld, ColumnNew, ColumnSource };

    explicit frmHistory(QString path, QWidget *parent = nullptr);

    /// Reads the file again.
    void reload();
    /// The selected rows, or every row when none is selected: one line each, columns split by tabs.
    QString rowsAsText() const;
    /// How the window names an event.
    static QString eventText(AddressHistory::Kind kind);

    QLabel *lblHistory, *lblFile, *lblNote;
    QTreeWidget *lstHistory;
    QPushButton *cmdCopy, *cmdClear;

private:
    void buildControls();
    void watch();
    void cmdCopy_Click();
    void cmdClear_Click();

    QString m_path;
    QList<AddressHistory::Event> m_events; // newest first, as shown
    QFileSystemWatcher *m_watcher;
};
