#pragma once

#include <QDialog>

class QCheckBox;
class QTextEdit;
class SettingsStore;

/// The help window: shows "Help.rtf" from the program's folder and the "Show at Startup" option.
/// Without the file it stays hidden for as long as it is loaded. Closing it unloads it.
class Form8 : public QDialog {
    Q_OBJECT
public:
    /// folder: where to look for the help file, the program's own folder.
    Form8(SettingsStore &store, const QString &folder, QWidget *parent = nullptr);

    /// Skins the window, loads the help file and the option; every failing step is skipped.
    void Form_Load();
    /// False when the load found no help file: the window is then never shown.
    bool hasHelpFile() const { return m_found; }

    QTextEdit *rtf1;   // the help text
    QCheckBox *Check1; // "Show at Startup"

private:
    void Check1_Click();

    SettingsStore &m_store;
    QString m_folder;
    bool m_found = false;
};
