#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

/// The tokens, signing secrets and Apprise URLs of the notice channels, kept in the desktop's keyring
/// (never in the settings file) under the channel's name. A systemd credential
/// `$CREDENTIALS_DIRECTORY/channel-NAME` comes first, for the service on a machine without a keyring.
/// Keyring calls are asynchronous: whenReady runs its work once a channel's secret is known. Where no
/// keyring answers, a secret lives in memory for as long as the program runs.
class ChannelSecrets : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 CredentialLimit = 16 * 1024;

    /// service names the program's entry in the keyring.
    explicit ChannelSecrets(QString service, QObject *parent = nullptr);

    /// Runs `work` with the channel's secret (empty: none), at once when it is known, else once the
    /// keyring answers.
    void whenReady(const QString &name, std::function<void(const QString &secret)> work);
    /// Keeps the secret at once and writes it to the keyring; an empty one is removed from it.
    void save(const QString &name, const QString &secret);
    bool keyringAvailable() const { return m_keyringAvailable; }

signals:
    /// A keyring write ended; ok is false when it failed (the secret then lives in memory only).
    void written(const QString &name, bool ok);

private:
    std::optional<QString> credential(const QString &name) const;

    QString m_service;
    QHash<QString, QString> m_known;
    QHash<QString, QList<std::function<void(const QString &)>>> m_waiting; // reads under way
    bool m_keyringAvailable = true;
};
