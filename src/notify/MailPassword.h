#pragma once

#include <QObject>
#include <QString>

/// The mail server password, kept in the desktop's keyring (Secret Service or KWallet) and never in
/// the settings file. Keyring calls are asynchronous. Where no keyring answers, the password lives
/// only in memory for as long as the program runs, and keyringAvailable() says so.
class MailPassword : public QObject {
    Q_OBJECT
public:
    enum class State { NotLoaded, Loading, Loaded };

    /// service names the program's entry in the keyring.
    explicit MailPassword(QString service, QObject *parent = nullptr);

    /// Reads the stored password; loaded follows. Does nothing unless NotLoaded.
    void Load();
    /// Keeps the password in memory at once and writes it to the keyring; an empty one is removed.
    void Save(const QString &password);

    State state() const { return m_state; }
    QString value() const { return m_value; }
    bool keyringAvailable() const { return m_keyringAvailable; }

signals:
    void loaded(const QString &password);
    void keyringAvailableChanged(bool available);

private:
    void setKeyringAvailable(bool available);

    QString m_service;
    State m_state = State::NotLoaded;
    QString m_value;
    bool m_keyringAvailable = true;
    int m_writes = 0; // keyring writes issued; a read that answers after one must not undo it
};
