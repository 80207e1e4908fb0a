#include "WebsiteHost.h"
#include "frmWebsite.h"

#include <memory>

extern "C" Q_DECL_EXPORT QWidget *netquill_create_website(const WebsiteHost *host)
{
    if (!host || host->version != WebsiteHost::CurrentVersion)
        return nullptr;
    // A load that throws leaves no half-built window behind.
    auto window = std::make_unique<frmWebsite>(*host);
    window->Form_Load();
    return window.release();
}
