#ifdef _WIN32

#include "WindowsRegistry.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

// The wide forms: the registry keeps text as UTF-16, and the ANSI forms would turn every character
// outside the ANSI code page (a user folder in another script) into '?', so the start-up entry
// would point to a file that does not exist.

namespace {

HKEY handleOf(RootKey root)
{
    // Predefined keys are sign-extended 32-bit values, as <winreg.h> builds them.
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

// With an empty path the open and create calls hand back the root itself, which stays open.
void closeKey(HKEY key, RootKey root)
{
    if (key != handleOf(root))
        RegCloseKey(key);
}

} // namespace

bool WindowsRegistry::createKey(RootKey root, const QString &path)
{
    HKEY key = nullptr;
    if (RegCreateKeyW(handleOf(root), path.toStdWString().c_str(), &key) != ERROR_SUCCESS)
        return false;
    closeKey(key, root);
    return true;
}

bool WindowsRegistry::setString(RootKey root, const QString &path, const QString &name, const QString &data)
{
    HKEY key = nullptr;
    if (RegCreateKeyW(handleOf(root), path.toStdWString().c_str(), &key) != ERROR_SUCCESS)
        return false;
    // The size counts the characters of the text only; no terminating NUL is stored.
    const std::wstring text = data.toStdWString();
    const LONG result = RegSetValueExW(key, name.toStdWString().c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE *>(text.data()),
                                       static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    closeKey(key, root);
    return result == ERROR_SUCCESS;
}

std::optional<RegistryValue> WindowsRegistry::queryValue(RootKey root, const QString &path,
                                                         const QString &name) const
{
    HKEY key = nullptr;
    if (RegOpenKeyW(handleOf(root), path.toStdWString().c_str(), &key) != ERROR_SUCCESS)
        return std::nullopt;
    const std::wstring valueName = name.toStdWString();
    std::optional<RegistryValue> result;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        if (type != REG_SZ) {
            result = RegistryValue{type, QString()};
        } else {
            // A buffer of spaces, so that data stored without a NUL still reads as whole text.
            std::wstring buffer((size + 1) / sizeof(wchar_t), L' ');
            DWORD filled = size;
            if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE *>(buffer.data()), &filled) == ERROR_SUCCESS &&
                type == REG_SZ)
                result = RegistryValue{type, QString::fromStdWString(buffer)};
        }
    }
    closeKey(key, root);
    return result;
}

bool WindowsRegistry::deleteValue(RootKey root, const QString &path, const QString &name)
{
    HKEY key = nullptr;
    if (RegOpenKeyW(handleOf(root), path.toStdWString().c_str(), &key) != ERROR_SUCCESS)
        return false;
    const LONG result = RegDeleteValueW(key, name.toStdWString().c_str());
    closeKey(key, root);
    return result == ERROR_SUCCESS;
}

bool WindowsRegistry::deleteKey(RootKey root, const QString &path)
{
    // An empty path would name the root itself.
    if (path.isEmpty())
        return false;
    return RegDeleteKeyW(handleOf(root), path.toStdWString().c_str()) == ERROR_SUCCESS;
}

#endif
