#pragma once

#include <QByteArray>
#include <QList>

/// The sixteen lines of the notification, joined by CR LF, as they must arrive for these inputs
/// (program "Netquill" by "Velmora", website "netquill.example.com").
inline QByteArray expectedNotification(const QByteArray &sender, const QByteArray &recipient,
                                       const QByteArray &externalLines, const QByteArray &internal)
{
    const QList<QByteArray> lines = {
        "From: <" + sender + ">",
        "To: " + recipient,
        "Subject: Netquill - Notification of IP Address Change",
        "X-Mailer: Netquill",
        "Mime-Version: 1.0",
        "Content-Type: text/plain;charset=us-ascii",
        "",
        "This message is an automatic notification by Netquill that your IP Address has changed to the "
        "following:",
        "",
        "External IP Address: " + externalLines,
        "Internal IP Address: " + internal,
        "",
        "Thank you,",
        "",
        "Netquill by Velmora",
        "http://www.netquill.example.com",
    };
    return lines.join("\r\n");
}
