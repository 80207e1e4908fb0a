#pragma once

#include <QByteArray>
#include <QString>

#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#include <unistd.h>
#endif

/// Counts, from the moment it is made, how often one file was replaced by a rename and how often it
/// was written in place. Linux only (inotify queues the events as they happen); elsewhere supported()
/// is false.
class FileReplacements {
public:
    explicit FileReplacements(const QString &filePath)
    {
        const qsizetype slash = filePath.lastIndexOf(u'/');
        m_name = filePath.sliced(slash + 1).toLocal8Bit();
#ifdef Q_OS_LINUX
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0 && inotify_add_watch(m_fd, filePath.first(slash).toLocal8Bit().constData(),
                                           IN_MOVED_TO | IN_MODIFY) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
#endif
    }
    ~FileReplacements()
    {
#ifdef Q_OS_LINUX
        if (m_fd >= 0)
            ::close(m_fd);
#endif
    }
    FileReplacements(const FileReplacements &) = delete;
    FileReplacements &operator=(const FileReplacements &) = delete;

    bool supported() const
    {
        return m_fd >= 0;
    }
    int renamedOver()
    {
        drain();
        return m_renamed;
    }
    int writtenInPlace()
    {
        drain();
        return m_written;
    }

private:
    void drain()
    {
#ifdef Q_OS_LINUX
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
            if (length <= 0)
                return;
            for (ssize_t at = 0; at < length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->len > 0 && m_name == event->name) {
                    if (event->mask & IN_MOVED_TO)
                        ++m_renamed;
                    if (event->mask & IN_MODIFY)
                        ++m_written;
                }
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
        }
#endif
    }

    QByteArray m_name;
    int m_fd = -1;
    int m_renamed = 0;
    int m_written = 0;
};
