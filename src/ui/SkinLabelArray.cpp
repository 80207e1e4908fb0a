#include "SkinLabelArray.h"

#include "Twips.h"

#include <stdexcept>

QWidget *SkinLabelArray::Container() const
{
    return m_elements.front() ? m_elements.front()->parentWidget() : nullptr;
}

SkinLabel *SkinLabelArray::Load(int index)
{
    const SkinLabel *element0 = m_elements.front();
    if (!element0 || index != UBound() + 1 || index > 32767)
        throw std::out_of_range("skin label index");
    auto *element = new SkinLabel(element0->text(), element0->parentWidget());
    element->setAlignment(element0->alignment());
    element->setWordWrap(element0->wordWrap());
    element->setPalette(element0->palette());
    element->setFont(element0->font());
    element->setGeometry(element0->geometry());
    // A copy only shows its text; clicks go to what lies beneath it.
    element->setAttribute(Qt::WA_TransparentForMouseEvents);
    element->hide();
    m_elements.emplace_back(element);
    return element;
}

SkinLabel *SkinLabelArray::Template(QWidget *container, int left, int top, int width, int height)
{
    auto *element0 = new SkinLabel(QStringLiteral("Windowed Label"), container);
    element0->setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    Twips::place(element0, left, top, width, height);
    element0->hide();
    return element0;
}
