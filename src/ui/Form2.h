#pragma once

#include "IpSnapshot.h"
#include "SkinLabelArray.h"

#include <QFont>
#include <QWidget>

class QAction;
class QLabel;
class QMenu;

/// The address overlay: a small frameless window at the top-left corner of the screen, above
/// ordinary windows, showing both addresses. A right-click on its background or a caption opens
/// a menu with "Refresh" and "Hide".
class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);

    /// Goes on top, skins itself and asks for a lookup. Runs once, when the window is created.
    void Form_Load();
    /// Shows both addresses whole, each also as its label's tool tip; the window widens for an address
    /// too long for the designed labels and narrows again after it.
    void ShowAddresses(const IpSnapshot &current);
    /// The IPv6 addresses, shown as the others while the families are followed apart.
    void ShowAddresses6(const IpSnapshot &current6);
    /// A line for each IPv6 address under its IPv4 one (on), or the designed two lines (off).
    void ShowFamilies(bool on);

    QLabel *Label3;            // the caption "Internal:"
    SkinLabel *Label1;         // the internal address
    QLabel *Label4;            // the caption "External:"
    SkinLabel *Label2;         // the external address
    SkinLabel *Label5;         // the internal IPv6 address, under Label1 while the families are apart
    SkinLabel *Label6;         // the external IPv6 address, under Label2 likewise
    SkinLabelArray SkinLabel1; // the skin's copies of the captions, from an invisible template
    QMenu *mnuPopup;           // the right-click menu
    QAction *mnuPopupItem[2];  // "Refresh", "Hide"

signals:
    /// The main window's Refresh is to run.
    void refreshRequested();
    /// "Hide" was chosen: the main window's overlay switch is to offer "on" again.
    void hideRequested();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void fit();

    QFont m_addressFont; // the address labels' face, where the address fits
    IpSnapshot m_shown, m_shown6;
};
