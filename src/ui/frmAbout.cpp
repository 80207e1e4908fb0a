#include "frmAbout.h"

#include "PictureBox.h"
#include "ScreenCentre.h"
#include "SkinLabel.h"
#include "Twips.h"
#include "modIdentity.h"
#include "modSkin.h"

#include <netquill/BuildIdentity.h>

#include <QLabel>

namespace {
template <typename T>
T *label(QWidget *parent, const QString &text, int left, int top, int width, int height, qreal points)
{
    auto *widget = new T(text, parent);
    Twips::place(widget, left, top, width, height);
    QFont font = modSkin::DesignFont(points);
    font.setBold(true);
    widget->setFont(font);
    return widget;
}
} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      Picture1(new PictureBox(this)), SkinLabel1(SkinLabelArray::Template(this, 480, 2940, 555, 195))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Twips::toPixels(7455), Twips::toPixels(2925));
    Twips::place(Picture1, 0, 0, 7515, 1035);
    Picture1->setPixmap(QPixmap(QStringLiteral(":/header.jpg")));
    ScreenCentre::place(this);
    Label1 = label<SkinLabel>(this, {}, 120, 1200, 7095, 435, 14.25);
    Label2 = label<QLabel>(this, QStringLiteral("Version:"), 180, 1680, 2295, 315, 12);
    lblVersion = label<SkinLabel>(this, {}, 2580, 1680, 4635, 315, 12);
    Label3 = label<QLabel>(this, QStringLiteral("Owned By:"), 180, 2100, 2295, 315, 12);
    lblCompany = label<SkinLabel>(this, {}, 2580, 2100, 4635, 315, 12);
    Label4 = label<QLabel>(this, QStringLiteral("Website:"), 180, 2520, 2295, 315, 12);
    lblWebsite = label<SkinLabel>(this, {}, 2580, 2520, 4635, 315, 12);
}

void frmAbout::Form_Load()
{
    const ProductIdentity &identity = modIdentity::Identity();
    setWindowTitle(QStringLiteral("About ") + identity.strProgramName);
    Label1->setText(QString::fromUtf8(BuildIdentity::ProductName));
    lblCompany->setText(QString::fromUtf8(BuildIdentity::CompanyName));
    lblVersion->setText(modIdentity::VersionText());
    lblWebsite->setText(QString::fromUtf8(BuildIdentity::Comments));
    if (identity.blnSkinEnabled) {
        modSkin::SubstituteSkinLabels(this, {&SkinLabel1}, false);
        modSkin::SkinForm(this);
    }
}
