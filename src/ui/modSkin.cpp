#include "modSkin.h"

#include "PictureBox.h"
#include "Skin.h"
#include "SkinEngine.h"
#include "SkinLabelArray.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <QPointer>

namespace {
QPointer<Skin> g_currentSkin;
}

void modSkin::SetCurrentSkin(Skin *skin)
{
    g_currentSkin = skin;
}

Skin *modSkin::CurrentSkin()
{
    return g_currentSkin;
}

void modSkin::SkinForm(QWidget *window)
{
    if (!g_currentSkin || !window)
        return;
    ColorControls(window, g_currentSkin->BackgroundColor(), g_currentSkin->TextColor(),
                  g_currentSkin->PanelColor(), g_currentSkin->PanelTextColor());
    g_currentSkin->ApplySkin(window);
}

QString modSkin::TypeName(const QWidget *control)
{
    if (qobject_cast<const QPushButton *>(control) || qobject_cast<const QToolButton *>(control))
        return QStringLiteral("CommandButton");
    if (qobject_cast<const QLineEdit *>(control))
        return QStringLiteral("TextBox");
    if (qobject_cast<const QComboBox *>(control))
        return QStringLiteral("ComboBox");
    if (qobject_cast<const QAbstractItemView *>(control))
        return QStringLiteral("ListBox");
    if (qobject_cast<const PictureBox *>(control))
        return QStringLiteral("PictureBox");
    if (qobject_cast<const SkinLabel *>(control))
        return QStringLiteral("SkinLabel");
    if (qobject_cast<const QLabel *>(control))
        return QStringLiteral("Label");
    return {};
}

namespace {
void setColor(QWidget *control, QPalette::ColorRole role, quint32 value, bool disabledToo)
{
    QPalette palette = control->palette();
    const QColor color = Skin::toColor(value);
    palette.setColor(QPalette::Active, role, color);
    palette.setColor(QPalette::Inactive, role, color);
    // Text keeps the window's dimmed colour when disabled.
    if (disabledToo)
        palette.setColor(QPalette::Disabled, role, color);
    control->setPalette(palette);
}
} // namespace

void modSkin::ColorControls(QWidget *window, quint32 background, quint32 text, quint32 panel,
                            quint32 panelText)
{
    Q_UNUSED(panelText);
    const QList<QWidget *> controls = window->findChildren<QWidget *>();
    for (QWidget *control : controls) {
        const QString type = TypeName(control);
        if (type == QLatin1String("CommandButton")) {
            setColor(control, QPalette::Button, background, true);
        } else if (type == QLatin1String("TextBox") || type == QLatin1String("ComboBox") ||
                   type == QLatin1String("ListBox")) {
            setColor(control, QPalette::Base, background, true);
            setColor(control, QPalette::Button, background, true);
            setColor(control, QPalette::Text, text, false);
            setColor(control, QPalette::ButtonText, text, false);
        } else if (type == QLatin1String("PictureBox")) {
            setColor(control, QPalette::Window, panel, true);
            control->setAutoFillBackground(true);
        }
    }
}

void modSkin::SubstituteSkinLabels(QWidget *window, const QList<SkinLabelArray *> &templates,
                                   bool containerTest)
{
    const QList<QWidget *> controls = window->findChildren<QWidget *>();
    for (QWidget *control : controls) {
        if (TypeName(control) != QLatin1String("Label"))
            continue;
        auto *label = static_cast<QLabel *>(control);
        SkinLabelArray *array = containerTest ? nullptr : templates.value(0);
        for (SkinLabelArray *candidate : templates) {
            if (containerTest && candidate->Container() == label->parentWidget()) {
                array = candidate;
                break;
            }
        }
        if (!array)
            continue;
        SkinLabel *copy = array->Load(array->UBound() + 1);
        copy->setGeometry(label->geometry());
        copy->setFont(label->font());
        copy->setText(label->text());
        copy->setVisible(!label->isHidden());
        if (copy->parentWidget() != label->parentWidget())
            continue;
        // Over the label, the copy stands in for it: screen readers would otherwise find the caption
        // twice at one place. The control it names keeps its caption through the copy.
        copy->setBuddy(label->buddy());
        copy->setAccessibleName(label->accessibleName());
        copy->setAccessibleDescription(label->accessibleDescription());
        copy->setToolTip(label->toolTip());
        label->setBuddy(nullptr);
        label->hide();
    }
}

SkinEngine *modSkin::Engine()
{
    static QPointer<SkinEngine> engine;
    if (!engine)
        engine = new SkinEngine(QCoreApplication::instance());
    return engine;
}

QFont modSkin::DesignFont(qreal pointSize)
{
    const QString family = QFontDatabase::hasFamily(QStringLiteral("Verdana"))
                               ? QStringLiteral("Verdana")
                               : QStringLiteral("DejaVu Sans");
    QFont font(family);
    font.setPointSizeF(pointSize);
    font.setBold(false); // stated, so that a child of a bold parent does not inherit its weight
    return font;
}

void modSkin::runGuarded(const std::function<void()> &step)
{
    try {
        step();
    } catch (...) {
    }
}
