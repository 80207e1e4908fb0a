#pragma once

#include "WebsiteExport.h"
#include "WebsiteHost.h"

#include <QList>
#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QWebEngineLoadingInfo;
class QWebEngineView;

/// The small web browser that opens the product's website: an address box with "Go", the history
/// buttons, the page and a status bar. Closing it unloads it; after the main window has gone, closing
/// it ends the program.
class NETQUILL_WEBSITE_EXPORT frmWebsite : public QWidget {
    Q_OBJECT
public:
    explicit frmWebsite(const WebsiteHost &host, QWidget *parent = nullptr);

    /// Second panel, caption, skin, the website, maximised and brought to the front.
    void Form_Load();
    /// The address as typed goes to the browser; the engine makes a URL of a bare domain.
    void Navigate(const QString &address);

    // Controls, named as the window's design names them.
    QStatusBar *StatusBar1;
    QList<QLabel *> Panels; // the status bar's panels; panel 1 shows the page's status text
    QGroupBox *frmBrowser;  // "Browser"
    QLabel *Label5;         // "URL:"
    QLineEdit *Text1;       // the address
    QPushButton *Command3, *Command4, *Command5, *Command6; // Go, Back, Forward, Stop
    QPushButton *Command7;                                  // Refresh, element 1 of a button array of one
    QWebEngineView *WebBrowser1;
    QLabel *SkinLabel1; // the skin's label template, element 0, invisible

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *addPanel();
    void Form_Resize();
    void Form_Unload();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void WebBrowser1_StatusTextChange(const QString &text);
    void WebBrowser1_LoadingChanged(const QWebEngineLoadingInfo &info);
    void WebBrowser1_DownloadComplete();
    /// Back and Forward are offered only where there is a page to go to.
    void updateHistoryButtons();

    WebsiteHost m_host;
};
