#pragma once

#include <QLabel>

namespace Caption {
/// Makes the label the caption of the control: screen readers and UI automation announce the
/// control by the label's text.
inline void link(QLabel *label, QWidget *control)
{
    label->setBuddy(control);
    control->setAccessibleName(label->text());
}
} // namespace Caption
