#pragma once

#include "WebsiteExport.h"

/// Where the browser window's controls go for a given window size. All lengths in twips, worked out in
/// single precision; a length that comes out negative in a very small window is taken as its absolute
/// value. Only the "Go" button moves; every other left and top stays as designed.
struct NETQUILL_WEBSITE_EXPORT WebsiteLayout {
    // The designed places the rules start from.
    static constexpr int Text1Left = 540;
    static constexpr int Command3Width = 795;
    static constexpr int WebBrowser1Left = 120;
    static constexpr int WebBrowser1Top = 1140;

    float panel1Width = 0;
    float panel2Width = 0;
    float frmBrowserHeight = 0;
    float frmBrowserWidth = 0;
    float Text1Width = 0;
    float Command3Left = 0;
    float WebBrowser1Width = 0;
    float WebBrowser1Height = 0;

    /// outerWidth, outerHeight: the window's size with its border and title bar.
    static WebsiteLayout compute(float outerWidth, float outerHeight, float statusBarHeight);
};
