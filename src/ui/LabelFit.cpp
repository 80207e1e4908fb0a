#include "LabelFit.h"

#include <QFontMetrics>
#include <QLabel>

QFont LabelFit::fitting(const QFont &design, const QString &text, int width, qreal smallest)
{
    // No label is wide enough for more than this; measuring a whole page would only cost time.
    const QString measured = text.left(512);
    const auto fits = [&](const QFont &font) {
        return QFontMetrics(font).horizontalAdvance(measured) <= width;
    };
    QFont font = design;
    while (!fits(font) && font.pointSizeF() - 0.25 >= smallest)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    // A bold face still too wide at the smallest size gives up its weight before the text is cut off.
    if (!fits(font) && font.bold()) {
        QFont regular = design;
        regular.setBold(false);
        return fitting(regular, text, width, smallest);
    }
    return font;
}

void LabelFit::showWhole(QLabel *label, const QString &text, const QFont &design)
{
    label->setFont(fitting(design, text, label->contentsRect().width()));
    label->setText(text);
}

QString LabelFit::brief(const QString &text)
{
    constexpr qsizetype room = 64;
    const QString line = text.simplified();
    return line.size() > room ? line.left(room) + QChar(0x2026) : line;
}
