#pragma once

#include "RegistryBackend.h"

#include <QJsonObject>

/// The registry on desktops without one. Values of the Run key (under either root) are the user's
/// XDG autostart entries, `<config>/autostart/<value name>.desktop`, whose Exec line runs the
/// value's text as one program path. Every other key lives in `<config>/<application>/registry.json`.
/// `<config>` is $XDG_CONFIG_HOME (else ~/.config), looked up at each call. Files are replaced
/// atomically; key and value names compare case-insensitively, as in the Windows registry.
class PortableRegistry final : public RegistryBackend {
public:
    explicit PortableRegistry(const QString &application);

    bool createKey(RootKey root, const QString &path) override;
    bool setString(RootKey root, const QString &path, const QString &name, const QString &data) override;
    std::optional<RegistryValue> queryValue(RootKey root, const QString &path,
                                            const QString &name) const override;
    bool deleteValue(RootKey root, const QString &path, const QString &name) override;
    bool deleteKey(RootKey root, const QString &path) override;

    QString storeFile() const;
    static QString autostartFolder();

private:
    /// The store's keys, each a full key name mapped to its values; nullopt when the file exists
    /// but cannot be read, so that a damaged store is never overwritten.
    std::optional<QJsonObject> loadStore() const;
    bool saveStore(const QJsonObject &store) const;

    QString m_application;
};
