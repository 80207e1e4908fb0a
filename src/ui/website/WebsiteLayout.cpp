#include "WebsiteLayout.h"

#include <cmath>

WebsiteLayout WebsiteLayout::compute(float outerWidth, float outerHeight, float statusBarHeight)
{
    // Each step uses what the steps before it set.
    WebsiteLayout l;
    l.panel1Width = std::fabs(outerWidth / 2);
    l.panel2Width = std::fabs(outerWidth / 2);
    l.frmBrowserHeight = std::fabs(outerHeight - statusBarHeight);
    l.frmBrowserWidth = std::fabs(outerWidth - 300);
    l.Text1Width = std::fabs(l.frmBrowserWidth - Text1Left - 300 - Command3Width);
    // The "Go" button keeps its gap to the address box even when the box's width was folded.
    l.Command3Left = l.Text1Width + Text1Left + 100;
    l.WebBrowser1Width = std::fabs(l.frmBrowserWidth - WebBrowser1Left - 100);
    l.WebBrowser1Height = std::fabs(l.frmBrowserHeight - WebBrowser1Top - 800 - statusBarHeight);
    return l;
}
