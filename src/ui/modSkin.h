#pragma once

#include <QFont>
#include <functional>

class QWidget;
class Skin;
class SkinEngine;

namespace modSkin {
/// The skin every window takes; set once at start-up from the splash window's skin control.
void SetCurrentSkin(Skin *skin);
Skin *CurrentSkin();
/// Colours the window's standard controls from the current skin and applies the skin to the window.
void SkinForm(QWidget *window);
/// The program's one skin engine, created on first use.
SkinEngine *Engine();
/// The windows' design face: Verdana 8.25 pt where installed, else a close sans-serif.
QFont DesignFont(qreal pointSize = 8.25);
/// Runs one step of a window's load; a step that fails is skipped and the load goes on.
void runGuarded(const std::function<void()> &step);
} // namespace modSkin
