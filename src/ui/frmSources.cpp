#include "frmSources.h"

#include "AddressMonitor.h"

#include "Caption.h"
#include "IpSourceList.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {
bool sameSource(const IpSource &a, const IpSource &b)
{
    return a.productPage == b.productPage && (a.productPage || a.url == b.url);
}

// An answer is shown on one line and short: a page may hold anything.
QString oneLine(const QString &answer)
{
    QString text = answer.left(80);
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return answer.size() > text.size() ? text + QChar(0x2026) : text;
}

// The address, or what went wrong instead, whole.
QString wholeAnswer(const AddressMonitor::SourceTestAnswer &answer)
{
    if (answer.isAddress)
        return answer.address;
    QString reason = answer.reason.isEmpty() ? QStringLiteral("failed") : answer.reason;
    reason[0] = reason.at(0).toUpper();
    return reason;
}

// The cell's tool tip holds what the cell cuts short: shown as text, whatever markup a page holds, and
// wrapped. Only a page longer than any real answer is cut, at a length a tool tip can still show.
QString toolTipFor(const QString &whole)
{
    constexpr qsizetype room = 1024;
    const QString text = whole.size() > room ? whole.left(room) + QChar(0x2026) : whole;
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}
} // namespace

frmSources::frmSources(AddressMonitor &monitor, QList<IpSource> offer, QWidget *parent)
    : QDialog(parent), m_monitor(monitor), m_page(monitor.productPage()), m_offer(std::move(offer))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Address Sources"));
    buildControls();
    connect(&m_monitor, &AddressMonitor::sourceTested, this, &frmSources::test_Answered);
    connect(&m_monitor, &AddressMonitor::sourcesTested, this, &frmSources::updateButtons);
    Form_Load();
}

frmSources::~frmSources()
{
    m_monitor.EndSourceTest();
}

void frmSources::buildControls()
{
    lblSources = new QLabel(QStringLiteral("Sources, asked from the top until one answers:"), this);
    lstSources = new QTreeWidget(this);
    lstSources->setHeaderLabels({QStringLiteral("Source"), QStringLiteral("Answer"), QStringLiteral("Time")});
    lstSources->setRootIsDecorated(false);
    lstSources->setUniformRowHeights(true);
    lstSources->header()->setStretchLastSection(false);
    lstSources->header()->setSectionResizeMode(ColumnSource, QHeaderView::Stretch);
    lstSources->setColumnWidth(ColumnAnswer, 190);
    lstSources->setColumnWidth(ColumnTime, 70);
    cmdUp = new QPushButton(QStringLiteral("Up"), this);
    cmdDown = new QPushButton(QStringLiteral("Down"), this);
    cmdRemove = new QPushButton(QStringLiteral("Remove"), this);
    cmdTest = new QPushButton(QStringLiteral("Test"), this);
    cmdTest->setToolTip(QStringLiteral("Ask every source in the list once, switched off or not"));
    lblHint = new QLabel(QStringLiteral("Public services see your address and the time of every lookup. "
                                        "At least one source stays switched on."),
                         this);
    lblHint->setWordWrap(true);
    lblCustom = new QLabel(QStringLiteral("Custom URL:"), this);
    txtCustom = new QLineEdit(this);
    txtCustom->setPlaceholderText(QStringLiteral("https://ip.example.net/"));
    // Room for a pasted URL that is too long, so that it is refused as such and not cut to a valid one.
    txtCustom->setMaxLength(int(4 * IpSourceList::MaxUrlLength));
    cmdAdd = new QPushButton(QStringLiteral("Add"), this);
    chkConfirm = new QCheckBox(QStringLiteral("Confirm a new address with a second source"), this);
    lblConfirm = new QLabel(QStringLiteral("A new address is stored, mailed and run only once another ticked "
                                           "source of another host gives it too; with no majority nothing "
                                           "changes and the next lookup asks again."),
                            this);
    lblConfirm->setWordWrap(true);
    chkFamilies = new QCheckBox(QStringLiteral("Follow IPv4 and IPv6 apart"), this);
    chkFamilies->setToolTip(
        QStringLiteral("Each family gets its own addresses: IPv4 from sources that answer "
                       "IPv4 (api4..., DNS A), IPv6 from those that answer IPv6 (api6..., "
                       "DNS AAAA)"));
    lblListNote = new QLabel(this);
    lblAddNote = new QLabel(this);
    for (QLabel *note : {lblListNote, lblAddNote})
        note->setTextFormat(Qt::PlainText);
    Caption::link(lblSources, lstSources);
    Caption::link(lblCustom, txtCustom);
    for (QPushButton *button : {cmdUp, cmdDown, cmdRemove, cmdTest, cmdAdd})
        button->setAutoDefault(false);

    auto *buttons = new QVBoxLayout;
    for (QPushButton *button : {cmdUp, cmdDown, cmdRemove})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(cmdTest);
    auto *list = new QHBoxLayout;
    list->addWidget(lstSources, 1);
    list->addLayout(buttons);
    auto *custom = new QHBoxLayout;
    custom->addWidget(lblCustom);
    custom->addWidget(txtCustom, 1);
    custom->addWidget(cmdAdd);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblSources);
    layout->addLayout(list, 1);
    layout->addWidget(lblListNote);
    layout->addWidget(lblHint);
    layout->addLayout(custom);
    layout->addWidget(lblAddNote);
    layout->addWidget(chkConfirm);
    layout->addWidget(lblConfirm);
    layout->addWidget(chkFamilies);
    resize(780, 440);

    connect(lstSources, &QTreeWidget::itemChanged, this, &frmSources::lstSources_ItemChanged);
    connect(lstSources, &QTreeWidget::currentItemChanged, this, &frmSources::updateButtons);
    connect(cmdUp, &QPushButton::clicked, this, [this] { move(-1); });
    connect(cmdDown, &QPushButton::clicked, this, [this] { move(1); });
    connect(cmdRemove, &QPushButton::clicked, this, &frmSources::cmdRemove_Click);
    connect(cmdAdd, &QPushButton::clicked, this, &frmSources::cmdAdd_Click);
    connect(txtCustom, &QLineEdit::returnPressed, this, &frmSources::cmdAdd_Click);
    connect(chkConfirm, &QCheckBox::toggled, this, [this](bool on) { m_monitor.setConfirmChanges(on); });
    connect(chkFamilies, &QCheckBox::toggled, this, [this](bool on) { m_monitor.setFollowFamilies(on); });
    // Set elsewhere too (the settings file read again): the box follows without setting it back.
    connect(&m_monitor, &AddressMonitor::followFamiliesChanged, this, [this](bool on) {
        const QSignalBlocker quiet(chkFamilies);
        chkFamilies->setChecked(on);
    });
    connect(txtCustom, &QLineEdit::textChanged, this, &frmSources::updateButtons);
    connect(cmdTest, &QPushButton::clicked, this, &frmSources::cmdTest_Click);
}

// The stored list first, in its order; then whatever it leaves out of the offer, switched off.
void frmSources::Form_Load()
{
    QList<IpSource> offer = m_offer;
    offer.prepend(IpSource{true, QUrl(), false});
    for (const IpSource &source : m_monitor.sources())
        m_rows.append(Row{source, {}, {}, {}});
    for (IpSource source : offer) {
        source.enabled = false;
        if (std::none_of(m_rows.cbegin(), m_rows.cend(),
                         [&](const Row &row) { return sameSource(row.source, source); }))
            m_rows.append(Row{source, {}, {}, {}});
    }
    fill(0);
    {
        const QSignalBlocker quiet(chkConfirm);
        chkConfirm->setChecked(m_monitor.confirmChanges());
    }
    {
        const QSignalBlocker quiet(chkFamilies);
        chkFamilies->setChecked(m_monitor.followFamilies());
    }
    if (modIdentity::Identity().blnSkinEnabled)
        modSkin::runGuarded([this] { modSkin::SkinForm(this); });
}

QList<IpSource> frmSources::sources() const
{
    QList<IpSource> list;
    for (const Row &row : m_rows)
        list.append(row.source);
    return list;
}

void frmSources::fill(int current)
{
    {
        const QSignalBlocker quiet(lstSources);
        lstSources->clear();
        for (const Row &row : std::as_const(m_rows)) {
            IpSource shown = row.source;
            if (shown.productPage)
                shown.url = m_page;
            auto *item = new QTreeWidgetItem(lstSources);
            // The dialog says which family a source answers where it promises one.
            const IpSource::Family family = shown.isDns() ? IpSource::Family::Any : shown.family();
            item->setText(ColumnSource, shown.displayName() +
                                            (family == IpSource::Family::IPv4   ? QStringLiteral(" (IPv4)")
                                             : family == IpSource::Family::IPv6 ? QStringLiteral(" (IPv6)")
                                                                                : QString()));
            item->setToolTip(ColumnSource, shown.url.toDisplayString());
            item->setText(ColumnAnswer, row.answer);
            item->setToolTip(ColumnAnswer, row.tip);
            item->setText(ColumnTime, row.time);
            item->setTextAlignment(ColumnTime, Qt::AlignRight | Qt::AlignVCenter);
            item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
            item->setCheckState(ColumnSource, row.source.enabled ? Qt::Checked : Qt::Unchecked);
        }
        lstSources->setCurrentItem(lstSources->topLevelItem(current));
    }
    updateButtons();
}

void frmSources::save()
{
    m_monitor.setSources(sources());
    lblListNote->clear();
}

bool frmSources::isCustom(const IpSource &source) const
{
    return !source.productPage && std::none_of(m_offer.cbegin(), m_offer.cend(), [&](const IpSource &known) {
        return known.url == source.url;
    });
}

int frmSources::enabledCount() const
{
    return int(
        std::count_if(m_rows.cbegin(), m_rows.cend(), [](const Row &row) { return row.source.enabled; }));
}

void frmSources::updateButtons()
{
    const int current = lstSources->indexOfTopLevelItem(lstSources->currentItem());
    const bool selected = current >= 0 && current < m_rows.size();
    cmdUp->setEnabled(selected && current > 0);
    cmdDown->setEnabled(selected && current + 1 < m_rows.size());
    // Removing the last source switched on would leave a lookup nothing to ask.
    cmdRemove->setEnabled(selected && isCustom(m_rows.at(current).source) &&
                          !(m_rows.at(current).source.enabled && enabledCount() == 1));
    const QString typed = txtCustom->text().trimmed();
    const QString why = whyNotAdded(typed);
    cmdAdd->setEnabled(!typed.isEmpty() && why.isEmpty());
    lblAddNote->setText(why.isEmpty() ? QString() : QStringLiteral("Cannot add: ") + why);
    cmdTest->setEnabled(!m_monitor.sourcesTesting());
}

QString frmSources::whyNotAdded(const QString &typed) const
{
    if (typed.isEmpty())
        return {};
    if (typed.size() > IpSourceList::MaxUrlLength)
        return QStringLiteral("too long (more than %1 characters)").arg(IpSourceList::MaxUrlLength);
    const auto url = IpSourceList::serviceUrl(typed);
    if (!url)
        return QStringLiteral("not an http://, https:// or dns://SERVER/NAME?type=A|AAAA|TXT address");
    if (std::any_of(m_rows.cbegin(), m_rows.cend(),
                    [&](const Row &row) { return !row.source.productPage && row.source.url == *url; }))
        return QStringLiteral("already in the list");
    if (m_rows.size() >= IpSourceList::MaxEntries)
        return QStringLiteral("the list is full (%1 sources)").arg(IpSourceList::MaxEntries);
    return {};
}

void frmSources::lstSources_ItemChanged(QTreeWidgetItem *item, int column)
{
    const int index = lstSources->indexOfTopLevelItem(item);
    if (column != ColumnSource || index < 0 || index >= m_rows.size())
        return;
    const bool on = item->checkState(ColumnSource) == Qt::Checked;
    if (on == m_rows.at(index).source.enabled)
        return;
    if (!on && enabledCount() == 1) {
        const QSignalBlocker quiet(lstSources);
        item->setCheckState(ColumnSource, Qt::Checked);
        lblListNote->setText(
            QStringLiteral("The last source switched on stays on: switch another one on first."));
        return;
    }
    m_rows[index].source.enabled = on;
    save();
    updateButtons();
}

void frmSources::move(int by)
{
    const int from = lstSources->indexOfTopLevelItem(lstSources->currentItem());
    const int to = from + by;
    if (from < 0 || to < 0 || to >= m_rows.size())
        return;
    m_rows.move(from, to);
    fill(to);
    save();
}

void frmSources::cmdRemove_Click()
{
    const int index = lstSources->indexOfTopLevelItem(lstSources->currentItem());
    if (!cmdRemove->isEnabled() || index < 0)
        return;
    m_rows.removeAt(index);
    fill(std::min(index, int(m_rows.size()) - 1));
    save();
}

void frmSources::cmdAdd_Click()
{
    if (!cmdAdd->isEnabled())
        return;
    const auto url = IpSourceList::serviceUrl(txtCustom->text().trimmed());
    if (!url)
        return;
    m_rows.append(Row{IpSource{false, *url, true}, {}, {}, {}});
    txtCustom->clear();
    fill(int(m_rows.size()) - 1);
    save();
}

void frmSources::cmdTest_Click()
{
    for (Row &row : m_rows) {
        row.answer = QStringLiteral("Asking...");
        row.tip.clear();
        row.time.clear();
    }
    fill(lstSources->indexOfTopLevelItem(lstSources->currentItem()));
    m_probed = m_monitor.TestSources(sources());
    updateButtons();
}

void frmSources::test_Answered(int index, const AddressMonitor::SourceTestAnswer &answer)
{
    // The rows may have moved since the Test started: the answer goes to its source, wherever it is now.
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (!sameSource(m_rows.at(i).source, m_probed.value(index)))
            continue;
        const QString whole = wholeAnswer(answer);
        m_rows[i].answer = oneLine(whole);
        m_rows[i].tip = toolTipFor(whole);
        m_rows[i].time = QStringLiteral("%1 ms").arg(answer.elapsedMs);
        const QSignalBlocker quiet(lstSources);
        lstSources->topLevelItem(int(i))->setText(ColumnAnswer, m_rows.at(i).answer);
        lstSources->topLevelItem(int(i))->setToolTip(ColumnAnswer, m_rows.at(i).tip);
        lstSources->topLevelItem(int(i))->setText(ColumnTime, m_rows.at(i).time);
    }
}
