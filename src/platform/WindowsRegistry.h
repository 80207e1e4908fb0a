#pragma once

#ifdef _WIN32

#include "RegistryBackend.h"

/// The Windows registry through advapi32.
class WindowsRegistry final : public RegistryBackend {
public:
    bool createKey(RootKey root, const QString &path) override;
    bool setString(RootKey root, const QString &path, const QString &name, const QString &data) override;
    std::optional<RegistryValue> queryValue(RootKey root, const QString &path,
                                            const QString &name) const override;
    bool deleteValue(RootKey root, const QString &path, const QString &name) override;
    bool deleteKey(RootKey root, const QString &path) override;
};

#endif
