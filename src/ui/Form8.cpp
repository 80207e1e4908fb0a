#include "Form8.h"

#include "RtfReader.h"
#include "ScreenCentre.h"
#include "SettingsStore.h"
#include "Twips.h"
#include "UiLog.h"
#include "WholeFile.h"
#include "modIdentity.h"
#include "modOnTop.h"
#include "modSkin.h"
#include "xfileExists.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTextEdit>

#include <algorithm>

namespace {
// Larger than any help file; a bigger one is not read at all.
constexpr qint64 MaxHelpBytes = 4 * 1024 * 1024;
// Stored check states: 0 unchecked, 1 checked, 2 greyed.
constexpr Qt::CheckState StoredStates[] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
} // namespace

Form8::Form8(SettingsStore &store, const QString &folder, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      rtf1(new QTextEdit(this)), Check1(new QCheckBox(QStringLiteral("Show at Startup"), this)),
      m_store(store), m_folder(folder)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Readme/Help"));
    setFixedSize(Twips::toPixels(10290), Twips::toPixels(7920));
    Twips::place(rtf1, 0, 0, 10275, 7515);
    Twips::place(Check1, 60, 7620, 1995, 255);
    rtf1->setReadOnly(true);
    rtf1->setPlainText(QStringLiteral("Help.rtf could not be read."));
    rtf1->setAccessibleName(QStringLiteral("Readme/Help"));
    Check1->setChecked(true);
    connect(Check1, &QCheckBox::stateChanged, this, &Form8::Check1_Click);
    ScreenCentre::place(this);
}

void Form8::Form_Load()
{
    if (modIdentity::Identity().blnSkinEnabled)
        modSkin::runGuarded([this] { modSkin::SkinForm(this); });
    const QString path = QDir(m_folder).filePath(QStringLiteral("Help.rtf"));
    m_found = xfileExists::FileExists(path);
    if (!m_found)
        return;
    modSkin::runGuarded([this] {
        // The file was found without regard to letter case; open it under the name it really has.
        // Compared by hand: a name filter would compile a regular expression, and map and JIT the
        // regular expression library, for the program's whole life.
        const QStringList names = QDir(m_folder).entryList(QDir::Files);
        const auto name = std::find_if(names.cbegin(), names.cend(), [](const QString &candidate) {
            return candidate.compare(QLatin1String("Help.rtf"), Qt::CaseInsensitive) == 0;
        });
        if (name == names.cend()) {
            qCWarning(lcUi) << "no Help.rtf in" << m_folder;
            return;
        }
        QFile file(QDir(m_folder).filePath(*name));
        if (!file.open(QIODevice::ReadOnly))
            qCWarning(lcUi).noquote() << "cannot read" << file.fileName() << "-" << file.errorString();
        else if (file.size() > MaxHelpBytes)
            qCWarning(lcUi).noquote() << file.fileName() << "is larger than" << MaxHelpBytes << "bytes";
        else
            RtfReader::read(WholeFile::readUpTo(file, MaxHelpBytes), *rtf1->document());
        rtf1->moveCursor(QTextCursor::Start); // open at the top, not where the reader stopped
    });
    modOnTop::SetAlwaysOnTop(this, true);
    // A stored text that is no whole number, or no state of the box, leaves the box as it is.
    const auto value = SettingsStore::toWholeNumber(m_store.GetSetting(SettingKeys::ShowHelp));
    if (value && *value >= 0 && *value <= 2)
        Check1->setCheckState(StoredStates[*value]);
}

void Form8::Check1_Click()
{
    const auto stored = std::find(std::begin(StoredStates), std::end(StoredStates), Check1->checkState());
    m_store.SaveSetting(SettingKeys::ShowHelp, QString::number(stored - std::begin(StoredStates)));
}
