#include "Form2.h"

#include "LabelFit.h"
#include "SkinLabel.h"
#include "Twips.h"
#include "modIdentity.h"
#include "modOnTop.h"
#include "modSkin.h"

#include <QAccessibleWidget>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>

namespace {
// Designed size and address column, in twips.
constexpr int WidthTwips = 3555, HeightTwips = 720;
constexpr int AddressLeft = 900, AddressWidth = 2475;
// The height of an IPv6 address line.
constexpr int IPv6Line = 300;

// Qt announces a top-level QWidget as a client area; the overlay is a window of its own.
QAccessibleInterface *accessibleOverlay(const QString &className, QObject *object)
{
    if (className == QLatin1String("Form2") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}
} // namespace

Form2::Form2(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint),
      Label3(new QLabel(QStringLiteral("Internal:"), this)),
      Label1(new SkinLabel(QStringLiteral("000.000.000.000"), this)),
      Label4(new QLabel(QStringLiteral("External:"), this)),
      Label2(new SkinLabel(QStringLiteral("000.000.000.000"), this)),
      Label5(new SkinLabel(QStringLiteral("000.000.000.000"), this)),
      Label6(new SkinLabel(QStringLiteral("000.000.000.000"), this)),
      SkinLabel1(SkinLabelArray::Template(this, 300, 600, 135, 135)), mnuPopup(new QMenu(this))
{
    // It shows addresses; clicking it must not take the focus from the user's work.
    setAttribute(Qt::WA_ShowWithoutActivating);
    QAccessible::installFactory(accessibleOverlay);
    setWindowTitle(QStringLiteral("IP Address Overlay"));
    setFixedSize(Twips::toPixels(WidthTwips), Twips::toPixels(HeightTwips));
    Twips::place(Label3, 60, 120, 735, 195);
    Twips::place(Label1, AddressLeft, 120, AddressWidth, 255);
    Twips::place(Label4, 60, 420, 735, 195);
    Twips::place(Label2, AddressLeft, 420, AddressWidth, 255);
    Twips::place(Label5, AddressLeft, 420, AddressWidth, 255);
    Twips::place(Label6, AddressLeft, 720 + IPv6Line, AddressWidth, 255);
    Label5->hide();
    Label6->hide();
    m_shown = {Label1->text(), Label2->text()};
    m_shown6 = {Label5->text(), Label6->text()};
    // The captions' boxes are narrow; where the design face is missing and the stand-in runs wider,
    // the text is set a little smaller rather than cut off.
    for (QLabel *caption : {Label3, Label4})
        caption->setFont(LabelFit::fitting(caption->font(), caption->text(), caption->width(), 6));
    m_addressFont = modSkin::DesignFont();
    m_addressFont.setBold(true);
    for (SkinLabel *address : {Label1, Label2, Label5, Label6})
        address->setFont(m_addressFont);
    // A screen reader reads a label by its text, the address; the caption says what it is.
    Label1->setAccessibleDescription(QStringLiteral("Internal IP address"));
    Label2->setAccessibleDescription(QStringLiteral("External IP address"));
    Label5->setAccessibleDescription(QStringLiteral("Internal IPv6 address"));
    Label6->setAccessibleDescription(QStringLiteral("External IPv6 address"));
    Label3->setBuddy(Label1);
    Label4->setBuddy(Label2);
    // The address labels take the clicks over them, so that only the captions and the background
    // open the menu.
    for (SkinLabel *label : {Label1, Label2, Label5, Label6})
        label->setAttribute(Qt::WA_NoMousePropagation);

    mnuPopupItem[0] = mnuPopup->addAction(QStringLiteral("Refresh"), this, &Form2::refreshRequested);
    mnuPopupItem[1] = mnuPopup->addAction(QStringLiteral("Hide"), this, [this] {
        emit hideRequested();
        hide();
    });

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->geometry().topLeft());
}

void Form2::Form_Load()
{
    modOnTop::SetAlwaysOnTop(this, true);
    if (!modIdentity::Identity().blnSkinEnabled) {
        emit refreshRequested();
        return;
    }
    // From here on a failing step is skipped and the load goes on.
    modSkin::runGuarded([this] { modSkin::SubstituteSkinLabels(this, {&SkinLabel1}, false); });
    modSkin::runGuarded([this] { modSkin::SkinForm(this); });
    modSkin::runGuarded([this] { emit refreshRequested(); });
}

void Form2::ShowAddresses(const IpSnapshot &current)
{
    m_shown = current;
    fit();
}

void Form2::ShowAddresses6(const IpSnapshot &current6)
{
    m_shown6 = current6;
    fit();
}

void Form2::ShowFamilies(bool on)
{
    if (Label5->isHidden() != on)
        return;
    const int below = on ? IPv6Line : 0;
    Label4->move(Twips::rect(60, 420 + below, 0, 0).topLeft());
    Label2->move(Twips::rect(AddressLeft, 420 + below, 0, 0).topLeft());
    Label5->setVisible(on);
    Label6->setVisible(on);
    fit();
}

void Form2::fit()
{
    const bool families = Label5->isVisibleTo(this);
    QList<std::pair<SkinLabel *, QString>> rows = {{Label1, m_shown.internal}, {Label2, m_shown.external}};
    if (families)
        rows += {{Label5, m_shown6.internal}, {Label6, m_shown6.external}};
    // Nothing else is drawn around the overlay: it grows to the right until an address (IPv6, say) fits
    // in the labels' own face, up to twice the designed width, past which a text is set smaller.
    const int designed = Twips::toPixels(AddressWidth);
    // A pixel to spare: the ink of a bold glyph may reach the very end of its advance.
    const int margins = Label1->width() - Label1->contentsRect().width() + 1;
    int width = designed;
    for (const auto &[label, address] : rows)
        width = std::max(width, QFontMetrics(m_addressFont).horizontalAdvance(address.left(64)) + margins);
    width = std::min(width, 2 * designed);
    setFixedSize(Twips::toPixels(WidthTwips) + width - designed,
                 Twips::toPixels(HeightTwips + (families ? 2 * IPv6Line : 0)));
    for (const auto &[label, address] : rows) {
        label->resize(width, label->height());
        LabelFit::showWhole(label, address, m_addressFont);
        label->setToolTip(LabelFit::brief(address));
    }
}

void Form2::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        const QWidget *under = childAt(event->position().toPoint());
        if (!under || under == Label3 || under == Label4)
            mnuPopup->popup(event->globalPosition().toPoint());
    }
    QWidget::mouseReleaseEvent(event);
}
