#pragma once

#include <QString>

class QComboBox;

namespace ComboCaption {
/// Makes the caption the box's name for screen readers and UI automation; its choice stays its value,
/// and a box without an edit field also gives it as its text, which is where AT-SPI readers find it.
/// Qt on Linux names a combo box by its choice and leaves the caption to a label's relation, which a
/// box captioned by a check box lacks. Call it before anything asks for the box's interface.
void link(QComboBox *box, const QString &caption);
} // namespace ComboCaption
