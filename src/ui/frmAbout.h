#pragma once

#include "SkinLabelArray.h"

#include <QDialog>

class PictureBox;
class QLabel;

/// The about box: the program's name, version, company and website under a header picture.
/// Closing it unloads it.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);

    /// Fills the texts from the version information, then skins the window.
    void Form_Load();

    PictureBox *Picture1;             // the header picture
    SkinLabel *Label1;                // the program name
    QLabel *Label2, *Label3, *Label4; // the captions "Version:", "Owned By:", "Website:"
    SkinLabel *lblVersion, *lblCompany, *lblWebsite;
    SkinLabelArray SkinLabel1; // the skin's copies of the captions, from an invisible template
};
