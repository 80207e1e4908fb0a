#include "LabelFit.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <functional>

namespace {
// No label is wide enough for more than this; measuring a whole page would only cost time.
constexpr qsizetype Measured = 512;
// Kept on a label: the height it was given before any text was fitted, and the lines it shows.
constexpr char DesignHeight[] = "netquillDesignHeight";
constexpr char Lines[] = "netquillLines";
const QString PainterName = QStringLiteral("LabelFit");

/// The largest face from design down to smallest, in quarter points, in which fits holds; a bold
/// design that fits nowhere is tried again in the regular weight. Where nothing fits, the smallest size
/// and found false.
QFont largest(const QFont &design, qreal smallest, const std::function<bool(const QFont &)> &fits,
              bool *found = nullptr)
{
    QFont font = design;
    while (!fits(font) && font.pointSizeF() - 0.25 >= smallest)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    const bool fit = fits(font);
    // A bold face still too wide at the smallest size gives up its weight before the text is cut off.
    if (!fit && font.bold()) {
        QFont regular = design;
        regular.setBold(false);
        return largest(regular, smallest, fits, found);
    }
    if (found)
        *found = fit;
    return font;
}

bool larger(const QFont &a, const QFont &b)
{
    return a.pointSizeF() > b.pointSizeF() || (a.pointSizeF() == b.pointSizeF() && a.bold() && !b.bold());
}

/// Where the second line starts: after the colon nearest the middle, and after the last colon of a
/// run, so that "::" stays whole. -1 where the text has no such colon.
qsizetype breakPoint(const QString &text)
{
    qsizetype best = -1;
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != u':' || text.at(i + 1) == u':')
            continue;
        const qsizetype at = i + 1;
        if (best < 0 || qAbs(2 * at - text.size()) < qAbs(2 * best - text.size()))
            best = at;
    }
    return best;
}

/// The label's height and the free room under it: down to the nearest visible widget beside it that
/// lies below its top, or to its container's edge, less the container's frame.
int roomFor(const QLabel *label, int designHeight)
{
    const QWidget *parent = label->parentWidget();
    if (!parent)
        return designHeight;
    const QRect place(label->x(), label->y(), label->width(), designHeight);
    int bottom = parent->contentsRect().bottom() + 1 -
                 parent->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, parent);
    for (const QObject *child : parent->children()) {
        const auto *sibling = qobject_cast<const QWidget *>(child);
        if (!sibling || sibling == label || sibling->isHidden() || sibling->isWindow())
            continue;
        const QRect other = sibling->geometry();
        if (other.top() > place.top() && other.left() <= place.right() && other.right() >= place.left())
            bottom = std::min(bottom, other.top());
    }
    return std::max(designHeight, bottom - place.top());
}

/// Draws a label's two lines where the label itself would draw its text on one. The label's text stays
/// whole, for screen readers and whoever reads it back; a label with a frame is not broken.
class TwoLinePainter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        auto *label = static_cast<QLabel *>(watched);
        const QStringList lines = LabelFit::linesShown(label);
        if (lines.size() < 2)
            return false;
        QPainter painter(label);
        label->style()->drawItemText(
            &painter, label->contentsRect(),
            int(QStyle::visualAlignment(label->layoutDirection(), label->alignment())), label->palette(),
            label->isEnabled(), lines.join(u'\n'), label->foregroundRole());
        return true;
    }
};
} // namespace

QFont LabelFit::fitting(const QFont &design, const QString &text, int width, qreal smallest)
{
    const QString measured = text.left(Measured);
    return largest(design, smallest, [&](const QFont &font) {
        return QFontMetrics(font).horizontalAdvance(measured) <= width;
    });
}

void LabelFit::showWhole(QLabel *label, const QString &text, const QFont &design)
{
    if (!label->property(DesignHeight).isValid())
        label->setProperty(DesignHeight, label->height());
    const int designHeight = label->property(DesignHeight).toInt();
    const int margins = label->height() - label->contentsRect().height();
    const int width = label->contentsRect().width();

    QFont font = fitting(design, text, width);
    const bool oneLineFits = QFontMetrics(font).horizontalAdvance(text.left(Measured)) <= width;
    QStringList lines{text};
    int height = designHeight;
    const qsizetype split = breakPoint(text);
    if ((!oneLineFits || font != design) && split > 0 && label->frameWidth() == 0) {
        const QString first = text.left(split);
        const QString second = text.mid(split).left(Measured);
        const int room = roomFor(label, designHeight) - margins;
        bool found = false;
        const QFont broken = largest(
            design, SmallestPointSize,
            [&](const QFont &candidate) {
                const QFontMetrics metrics(candidate);
                return metrics.horizontalAdvance(first) <= width &&
                       metrics.horizontalAdvance(second) <= width && 2 * metrics.lineSpacing() <= room;
            },
            &found);
        if (found && (!oneLineFits || larger(broken, font))) {
            font = broken;
            lines = QStringList{first, text.mid(split)};
            height = std::max(designHeight, 2 * QFontMetrics(font).lineSpacing() + margins);
        }
    }
    if (!label->findChild<QObject *>(PainterName, Qt::FindDirectChildrenOnly)) {
        auto *painter = new TwoLinePainter(label);
        painter->setObjectName(PainterName);
        label->installEventFilter(painter);
    }
    label->setProperty(Lines, lines);
    label->setFont(font);
    label->resize(label->width(), height);
    label->setText(text);
    label->update();
}

QStringList LabelFit::linesShown(const QLabel *label)
{
    const QStringList lines = label->property(Lines).toStringList();
    // A text set since by other means is shown as the label shows it, on one line.
    if (lines.size() < 2 || lines.join(QString()) != label->text())
        return {label->text()};
    return lines;
}

QString LabelFit::brief(const QString &text)
{
    constexpr qsizetype room = 64;
    const QString line = text.simplified();
    return line.size() > room ? line.left(room) + QChar(0x2026) : line;
}
