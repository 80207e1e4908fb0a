#include "WebsiteModule.h"

#include "SkinEngine.h"
#include "SkinLabelArray.h"
#include "UiLog.h"
#include "modIdentity.h"
#include "modOnTop.h"
#include "modSkin.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#include <QOpenGLContext>

// Exported by Qt Gui, though not in its public headers: what the AA_ShareOpenGLContexts attribute
// does at application start-up, available here for later.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext *context);

namespace {
/// The web engine needs a GL context to share with. Asked for by attribute before the application
/// exists, Qt creates it at start-up and so loads the GL driver (on Mesa: llvmpipe and LLVM, about
/// 150 ms and several MB) into a program that may never open the browser; made here, only the
/// browser window pays for it.
void EnsureShareContext()
{
    if (QOpenGLContext::globalShareContext())
        return;
    auto *context = new QOpenGLContext(QCoreApplication::instance());
    context->create();
    qt_gl_set_global_share_context(context);
}
} // namespace

WebsiteHost WebsiteModule::Host()
{
    const ProductIdentity &identity = modIdentity::Identity();
    WebsiteHost host;
    host.strWebsite = identity.strWebsite;
    host.blnSkinEnabled = identity.blnSkinEnabled;
    host.designFont = modSkin::DesignFont();
    host.blnExitPending = &blnExitPending;
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
    EnsureShareContext();
#ifdef Q_OS_UNIX
    // The engine's sandbox refuses to start for root and takes the whole program down with it; run as
    // root (as on a bare test machine), the page is shown without the sandbox instead.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    // Never unloaded: the window's code must stay mapped while any window made from it exists.
    QLibrary library(QDir(folder).filePath(QString::fromLatin1(WebsiteLibraryName)));
    const auto create = reinterpret_cast<CreateWebsiteFunction>(library.resolve(CreateWebsiteSymbol));
    if (!create) {
        qCWarning(lcUi).noquote() << "no browser window:" << library.errorString();
        return nullptr;
    }
    return create(&host);
}
