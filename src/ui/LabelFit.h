#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

class QLabel;

/// Fixed-size labels that must show their whole text: a text too wide for the label is set in a
/// smaller face, or broken onto a second line, rather than cut off.
namespace LabelFit {
/// 9 pixels at 96 dpi: below this an address is no longer readable; a longer text is cut off at the
/// label's edge instead.
constexpr qreal SmallestPointSize = 6.75;

/// design where text fits width pixels in it, else the largest size below it, in quarter points down
/// to smallest, where it fits; a bold design that does not fit even then is tried again in the
/// regular weight. Where nothing fits, the smallest size.
QFont fitting(const QFont &design, const QString &text, int width, qreal smallest = SmallestPointSize);
/// Shows text in the label, in design where it fits the label's width. Else an address (a text with a
/// colon) goes onto two lines, broken after the colon nearest its middle, when that lets it keep a
/// larger face: the label then grows down into the free room below it, up to the next visible widget
/// under it or its container's edge, and takes the largest face, down to the smallest size, in which
/// both lines fit. Otherwise it stays on one line, as much smaller as it needs. The label's text stays
/// the whole text on one line, as screen readers and tool tips read it; shown again on one line, the
/// label takes back the height it had at first.
void showWhole(QLabel *label, const QString &text, const QFont &design);
/// The lines the label shows its text on: the text, or its two parts.
QStringList linesShown(const QLabel *label);
/// The text on one line, cut to 64 characters: room for any address in a tool tip or a notice, not
/// for a whole page.
QString brief(const QString &text);
} // namespace LabelFit
