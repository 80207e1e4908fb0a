#pragma once

#include "SkinLabel.h"

#include <QPointer>
#include <vector>

/// A control array of skin labels. Element 0 is the invisible template placed at design time; each
/// loaded element is created in the template's container, takes the template's look and starts hidden.
class SkinLabelArray {
public:
    /// element0: the template, already placed in its container.
    explicit SkinLabelArray(SkinLabel *element0 = nullptr) : m_elements{element0} {}

    /// The highest index loaded so far; 0 while only the template exists.
    int UBound() const { return int(m_elements.size()) - 1; }
    /// Loads the element at index, which must be UBound() + 1 and fit a 16-bit index; throws otherwise.
    SkinLabel *Load(int index);
    SkinLabel *operator[](int index) const { return m_elements.at(size_t(index)); }
    QWidget *Container() const;

    /// A template placed at design time: invisible, "Windowed Label", in the container at the
    /// given place (twips).
    static SkinLabel *Template(QWidget *container, int left, int top, int width, int height);

private:
    std::vector<QPointer<SkinLabel>> m_elements;
};
