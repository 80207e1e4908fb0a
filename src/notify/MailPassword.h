#pragma once

#include <QObject>
#include <QString>

class QTimer;

/// The mail server password, kept in the desktop's keyring (Secret Service or KWallet) and never in
/// the settings file. Keyring calls are asynchronous. Where no keyring answers, the password lives
/// only in memory for as long as the program runs, and keyringAvailable() says so.
class MailPassword : public QObject {
    Q_OBJECT
public:
    enum class State { NotLoaded, Loading, Loaded };

    /// How long a password being typed waits for the next key before it goes to the keyring.
    static constexpr int TypingPauseMs = 500;

    /// service names the program's entry in the keyring.
    explicit MailPassword(QString service, QObject *parent = nullptr);

    /// Reads the stored password; loaded follows. Does nothing unless NotLoaded.
    void Load();
    /// Keeps the password in memory at once; it goes to the keyring once TypingPauseMs pass without a
    /// further Save, so that typing costs one keyring write. An empty one is removed from it.
    void Save(const QString &password);
    /// Starts the keyring write of a password still waiting for the pause, or left by a failed write.
    void Flush();
    /// Flush, then runs events until the keyring has answered every write, up to timeoutMs. At the end
    /// of the program, where no event loop runs any more. True when the keyring holds the password.
    bool FinishWrites(int timeoutMs);

    State state() const { return m_state; }
    QString value() const { return m_value; }
    bool keyringAvailable() const { return m_keyringAvailable; }

signals:
    void loaded(const QString &password);
    void keyringAvailableChanged(bool available);
    /// A keyring write has ended; ok is false when it failed (the password is then written again by
    /// the next Flush).
    void written(bool ok);

private:
    void Write();
    void setKeyringAvailable(bool available);

    QString m_service;
    State m_state = State::NotLoaded;
    QString m_value;
    bool m_keyringAvailable = true;
    int m_saves = 0;          // passwords saved; a read that answers after one must not undo it
    bool m_unwritten = false; // m_value is not in the keyring yet
    int m_writing = 0;        // keyring writes not answered yet
    QTimer *m_pause;
};
