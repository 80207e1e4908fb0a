#pragma once

#include <QString>

#include <cstdint>
#include <optional>

/// A predefined root key of the registry, by its 32-bit handle value.
using RootKey = std::uint32_t;

// Not named HKEY_CURRENT_USER / HKEY_LOCAL_MACHINE: <windows.h> defines those as macros.
namespace RegistryRoot {
inline constexpr RootKey CurrentUser = 0x80000001;  // HKEY_CURRENT_USER
inline constexpr RootKey LocalMachine = 0x80000002; // HKEY_LOCAL_MACHINE
} // namespace RegistryRoot

namespace RegistryType {
inline constexpr std::uint32_t None = 0;   // REG_NONE
inline constexpr std::uint32_t String = 1; // REG_SZ
} // namespace RegistryType

namespace RegistryPath {
/// The key whose values the desktop starts at log-on.
inline constexpr char Run[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
} // namespace RegistryPath

/// A value as stored: its type and, for text values, the whole stored text (NULs included).
struct RegistryValue {
    std::uint32_t type = RegistryType::None;
    QString data;
};

/// The few registry operations the program needs. Paths are relative to a root key and use
/// backslashes; every operation opens and closes what it needs. False means nothing was changed.
class RegistryBackend {
public:
    virtual ~RegistryBackend() = default;

    /// Opens the key, creating it and any missing parents.
    virtual bool createKey(RootKey root, const QString &path) = 0;
    /// Writes a text value, creating the key when it is missing.
    virtual bool setString(RootKey root, const QString &path, const QString &name, const QString &data) = 0;
    /// nullopt when the key or the value does not exist.
    virtual std::optional<RegistryValue> queryValue(RootKey root, const QString &path,
                                                    const QString &name) const = 0;
    virtual bool deleteValue(RootKey root, const QString &path, const QString &name) = 0;
    /// Deletes a key with its values; a key that still has subkeys stays.
    virtual bool deleteKey(RootKey root, const QString &path) = 0;
};
