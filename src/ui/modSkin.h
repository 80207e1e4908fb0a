#pragma once

#include <QFont>
#include <QList>
#include <QString>
#include <functional>

class QWidget;
class Skin;
class SkinEngine;
class SkinLabelArray;

namespace modSkin {
/// The skin every window takes; set once at start-up from the splash window's skin control.
void SetCurrentSkin(Skin *skin);
Skin *CurrentSkin();
/// Colours the window's standard controls from the current skin and applies the skin to the window.
void SkinForm(QWidget *window);
/// Colours the window's controls by their kind: buttons get the background colour, text and list
/// boxes the background and text colours, picture boxes the panel colour; the rest is left alone.
/// The panel text colour is accepted and not used.
void ColorControls(QWidget *window, quint32 background, quint32 text, quint32 panel, quint32 panelText);
/// The kind a control counts as in the skinning rules: "CommandButton" (push and tool buttons),
/// "TextBox" (single-line edits), "ComboBox", "ListBox" (item views), "PictureBox", "SkinLabel",
/// "Label" (any other label), or "" for everything else.
QString TypeName(const QWidget *control);
/// Lays a skin-label copy over every plain label of the window, made from one of the template arrays:
/// without the container test always the first, with it the first whose template shares the label's
/// container (no such array: no copy). A copy takes the label's geometry, font, text and visibility.
/// A copy in the label's own container replaces it: the label is hidden, and the copy takes its
/// buddy, accessible name, description and tool tip, so that the caption is drawn and announced once.
void SubstituteSkinLabels(QWidget *window, const QList<SkinLabelArray *> &templates, bool containerTest);
/// The program's one skin engine, created on first use.
SkinEngine *Engine();
/// The windows' design face: Verdana 8.25 pt where installed, else a close sans-serif.
QFont DesignFont(qreal pointSize = 8.25);
/// Runs one step of a window's load; a step that fails is skipped and the load goes on.
void runGuarded(const std::function<void()> &step);
} // namespace modSkin
