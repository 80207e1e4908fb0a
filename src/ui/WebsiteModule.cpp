#include "WebsiteModule.h"

#include "SkinEngine.h"
#include "SkinLabelArray.h"
#include "modIdentity.h"
#include "modOnTop.h"
#include "modSkin.h"

#include <QDir>
#include <QLibrary>

WebsiteHost WebsiteModule::Host()
{
    const ProductIdentity &identity = modIdentity::Identity();
    WebsiteHost host;
    host.strWebsite = identity.strWebsite;
    host.blnSkinEnabled = identity.blnSkinEnabled;
    host.designFont = modSkin::DesignFont();
    host.blnExitPending = &modIdentity::blnExitPending;
    host.SetAlwaysOnTop = &modOnTop::SetAlwaysOnTop;
    host.SkinLabelTemplate = &SkinLabelArray::Template;
    host.SkinWindow = [](QWidget *window, QLabel *skinTemplate) {
        // The copies are children of the template's frame; the array itself is only needed to make them.
        SkinLabelArray SkinLabel1(qobject_cast<SkinLabel *>(skinTemplate));
        modSkin::SubstituteSkinLabels(window, {&SkinLabel1}, true);
        modSkin::SkinForm(window);
    };
    host.StopSkinEngine = [] { modSkin::Engine()->Stop(); };
    return host;
}

QWidget *WebsiteModule::Create(const QString &folder, const WebsiteHost &host)
{
    // Never unloaded: the window's code must stay mapped while any window made from it exists.
    QLibrary library(QDir(folder).filePath(QString::fromLatin1(WebsiteLibraryName)));
    const auto create = reinterpret_cast<CreateWebsiteFunction>(library.resolve(CreateWebsiteSymbol));
    return create ? create(&host) : nullptr;
}
