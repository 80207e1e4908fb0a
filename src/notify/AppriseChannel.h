#pragma once

#include "NoticeChannel.h"

#include <QStringList>

/// Everything Apprise knows (Telegram, Matrix, Discord, Slack, Pushover...) through the `apprise`
/// command of the package of that name. The URLs hold tokens: they go to the command in its
/// environment (APPRISE_URLS), never on its command line, where every user of the machine can read
/// them. One send is one run, ended at TimeoutMs.
class AppriseChannel : public NoticeChannel {
    Q_OBJECT
public:
    static constexpr int TimeoutMs = 30000;

    explicit AppriseChannel(QStringList urls, QObject *parent = nullptr);
    void setUrls(const QStringList &urls) { m_urls = urls; }
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    /// The command, or empty when it is not installed.
    static QString program();
    quint64 send(const Notice &notice) override;

private:
    QStringList m_urls;
    int m_timeoutMs = TimeoutMs;
};
