#include "frmHistory.h"

#include "Caption.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {
// A value may hold anything a page answered: one line, no control characters. The tool tip has it whole.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}
} // namespace

frmHistory::frmHistory(QString path, QWidget *parent)
    : QDialog(parent), m_path(std::move(path)), m_watcher(new QFileSystemWatcher(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Address History"));
    buildControls();
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &frmHistory::reload);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &frmHistory::reload);
    reload();
    if (modIdentity::Identity().blnSkinEnabled)
        modSkin::runGuarded([this] { modSkin::SkinForm(this); });
}

void frmHistory::buildControls()
{
    lblHistory = new QLabel(QStringLiteral("Address changes and outages, newest first:"), this);
    lstHistory = new QTreeWidget(this);
    lstHistory->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Event"), QStringLiteral("Old"),
                                 QStringLiteral("New"), QStringLiteral("Source")});
    lstHistory->setRootIsDecorated(false);
    lstHistory->setUniformRowHeights(true);
    lstHistory->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstHistory->setColumnWidth(ColumnTime, 140);
    lstHistory->setColumnWidth(ColumnEvent, 150);
    lstHistory->setColumnWidth(ColumnOld, 120);
    lstHistory->setColumnWidth(ColumnNew, 200);
    lblFile = new QLabel(this);
    lblFile->setTextFormat(Qt::PlainText);
    lblFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblNote = new QLabel(this);
    lblNote->setTextFormat(Qt::PlainText);
    cmdCopy = new QPushButton(QStringLiteral("Copy"), this);
    cmdCopy->setToolTip(QStringLiteral("Copy the selected rows, or all of them, as text"));
    cmdClear = new QPushButton(QStringLiteral("Clear"), this);
    Caption::link(lblHistory, lstHistory);
    for (QPushButton *button : {cmdCopy, cmdClear})
        button->setAutoDefault(false);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(lblNote, 1);
    bottom->addWidget(cmdCopy);
    bottom->addWidget(cmdClear);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblHistory);
    layout->addWidget(lstHistory, 1);
    layout->addWidget(lblFile);
    layout->addLayout(bottom);
    resize(860, 380);

    connect(cmdCopy, &QPushButton::clicked, this, &frmHistory::cmdCopy_Click);
    connect(cmdClear, &QPushButton::clicked, this, &frmHistory::cmdClear_Click);
}

QString frmHistory::eventText(AddressHistory::Kind kind)
{
    switch (kind) {
    case AddressHistory::Kind::Internal:
        return QStringLiteral("Internal address changed");
    case AddressHistory::Kind::External:
        return QStringLiteral("External address changed");
    case AddressHistory::Kind::Failing:
        return QStringLiteral("Lookups failing");
    case AddressHistory::Kind::Working:
        return QStringLiteral("Lookups working again");
    case AddressHistory::Kind::Disagree:
        return QStringLiteral("Sources disagree");
    case AddressHistory::Kind::Unsent:
        return QStringLiteral("Notice not delivered");
    }
    return {};
}

// The file and its folder: the file is replaced when its oldest lines are dropped, and may not exist yet.
void frmHistory::watch()
{
    if (m_path.isEmpty())
        return; // no history is kept: nothing to follow
    const QString folder = QFileInfo(m_path).absolutePath();
    for (const QString &watched : {folder, m_path}) {
        if (QFileInfo::exists(watched) && !m_watcher->files().contains(watched) &&
            !m_watcher->directories().contains(watched))
            m_watcher->addPath(watched);
    }
}

void frmHistory::reload()
{
    m_events = AddressHistory::read(m_path);
    std::reverse(m_events.begin(), m_events.end());
    lstHistory->clear();
    QList<QTreeWidgetItem *> items;
    for (const AddressHistory::Event &event : std::as_const(m_events)) {
        auto *item = new QTreeWidgetItem;
        item->setText(ColumnTime, event.when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        item->setToolTip(ColumnTime, event.when.toString(Qt::ISODate));
        item->setText(ColumnEvent, eventText(event.kind));
        const QString values[] = {event.oldValue, event.newValue, event.source};
        for (int column : {ColumnOld, ColumnNew, ColumnSource}) {
            const QString &value = values[column - ColumnOld];
            item->setText(column, oneLine(value));
            item->setToolTip(column, value);
        }
        items.append(item);
    }
    lstHistory->addTopLevelItems(items);
    // Wide enough for what is listed, but an overlong value leaves room for the source.
    for (int column : {ColumnTime, ColumnEvent, ColumnOld, ColumnNew}) {
        if (items.isEmpty())
            break;
        lstHistory->resizeColumnToContents(column);
        lstHistory->setColumnWidth(column, std::min(lstHistory->columnWidth(column) + 12, 260));
    }
    lblFile->setText(
        m_path.isEmpty()
            ? QStringLiteral("No history is kept: neither XDG_STATE_HOME nor HOME names a folder.")
            : QStringLiteral("Kept in ") + QDir::toNativeSeparators(m_path));
    lblNote->setText(m_events.isEmpty() ? QStringLiteral("No address change or outage recorded yet.")
                                        : QString());
    cmdCopy->setEnabled(!m_events.isEmpty());
    cmdClear->setEnabled(!m_events.isEmpty());
    watch();
}

QString frmHistory::rowsAsText() const
{
    const bool selected = !lstHistory->selectedItems().isEmpty();
    QStringList lines;
    for (int row = 0; row < lstHistory->topLevelItemCount(); ++row) {
        const QTreeWidgetItem *item = lstHistory->topLevelItem(row);
        if (selected && !item->isSelected())
            continue;
        QStringList cells;
        for (int column = 0; column < lstHistory->columnCount(); ++column)
            cells.append(item->text(column));
        lines.append(cells.join(u'\t'));
    }
    return lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n';
}

void frmHistory::cmdCopy_Click()
{
    QGuiApplication::clipboard()->setText(rowsAsText());
}

void frmHistory::cmdClear_Click()
{
    if (QMessageBox::question(this, QStringLiteral("Clear Address History"),
                              QStringLiteral("Remove every address change and outage from the history?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    QString error;
    const bool cleared = AddressHistory::clear(m_path, &error);
    reload();
    if (!cleared)
        lblNote->setText(QStringLiteral("Error: History not cleared: ") + error);
}
