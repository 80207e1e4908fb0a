#pragma once

#include <QFont>
#include <QString>

class QLabel;

/// Fixed-size labels that must show their whole text: a text too wide for the label is set in a
/// smaller face rather than cut off.
namespace LabelFit {
/// Below this a text is no longer readable; a longer text is cut off at the label's edge instead.
constexpr qreal SmallestPointSize = 5;

/// design where text fits width pixels in it, else the largest size below it, in quarter points down
/// to smallest, where it fits; a bold design that does not fit even then is tried again in the
/// regular weight. Where nothing fits, the smallest size.
QFont fitting(const QFont &design, const QString &text, int width, qreal smallest = SmallestPointSize);
/// Shows text in the label, in design or as much smaller as it needs to fit the label's width.
void showWhole(QLabel *label, const QString &text, const QFont &design);
/// The text on one line, cut to 64 characters: room for any address in a tool tip or a notice, not
/// for a whole page.
QString brief(const QString &text);
} // namespace LabelFit
