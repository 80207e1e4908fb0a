#pragma once

class QWidget;

namespace modOnTop {
/// Moves the window into or out of the topmost band, keeping its position and size.
void SetAlwaysOnTop(QWidget *window, bool onTop);
} // namespace modOnTop
