#include "ComboCaption.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>

namespace {
// Qt's combo box as screen readers know it (the list, then the edit of an editable box, and the
// popup's actions), named by its accessible name where it has one. Without one it is named by its
// choice, as Qt names it.
class AccessibleComboBox : public QAccessibleWidget {
public:
    explicit AccessibleComboBox(QComboBox *box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    int childCount() const override { return box()->isEditable() ? 2 : 1; }
    QAccessibleInterface *child(int index) const override
    {
        if (index == 0)
            return QAccessible::queryAccessibleInterface(box()->view());
        if (index == 1 && box()->isEditable())
            return QAccessible::queryAccessibleInterface(box()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (child->object() == box()->view())
            return 0;
        if (box()->isEditable() && child->object() == box()->lineEdit())
            return 1;
        return -1;
    }
    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            if (!box()->accessibleName().isEmpty())
                return box()->accessibleName();
            return text(QAccessible::Value);
        case QAccessible::Value:
            return box()->isEditable() ? box()->lineEdit()->text() : box()->currentText();
        case QAccessible::Accelerator:
            return QKeySequence(Qt::Key_Down).toString(QKeySequence::NativeText);
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    QString localizedActionDescription(const QString &name) const override
    {
        if (name == showMenuAction() || name == pressAction())
            return QComboBox::tr("Open the combo box selection popup");
        return {};
    }
    void doAction(const QString &name) override
    {
        if (name != showMenuAction() && name != pressAction())
            return;
        if (box()->view()->isVisible())
            box()->hidePopup();
        else
            box()->showPopup();
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QComboBox *box() const { return static_cast<QComboBox *>(object()); }
};

QAccessibleInterface *accessibleComboBox(const QString &className, QObject *object)
{
    if (className == QLatin1String("QComboBox") && object && object->isWidgetType())
        return new AccessibleComboBox(static_cast<QComboBox *>(object));
    return nullptr;
}
} // namespace

void ComboCaption::link(QComboBox *box, const QString &caption)
{
    QAccessible::installFactory(accessibleComboBox);
    box->setAccessibleName(caption);
}
