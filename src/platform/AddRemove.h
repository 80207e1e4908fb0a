#pragma once

#include "RegistryBackend.h"

#include <QString>

#include <memory>
#include <optional>

/// Registry helper: the program's entry among the programs started at log-on and in the list of
/// installed programs, and the key and value operations they are built on. Nothing reports
/// failure; an operation the platform refuses simply changes nothing.
class AddRemove {
public:
    /// The registry of this platform.
    AddRemove();
    explicit AddRemove(std::unique_ptr<RegistryBackend> backend);
    ~AddRemove();
    AddRemove(const AddRemove &) = delete;
    AddRemove &operator=(const AddRemove &) = delete;

    /// Root of the high-level operations: the current user's, which a program may write without
    /// administrator rights.
    static constexpr RootKey ProgramRoot = RegistryRoot::CurrentUser;
    static constexpr const char *RunKeyPath = RegistryPath::Run;
    /// The program name follows directly.
    static constexpr char UninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    static constexpr char DisplayNameValue[] = "DisplayName";
    static constexpr char UninstallStringValue[] = "UninstallString";

    void AddToList(const QString &ProgramName, const QString &UninstallCommand);
    void RemoveFromList(const QString &ProgramName);
    /// Registers FileToRun to start at log-on under the name ProgramName, replacing an earlier command.
    void AddToRun(const QString &ProgramName, const QString &FileToRun);
    void RemoveFromRun(const QString &ProgramName);
    void SaveKey(RootKey hKey, const QString &strPath);
    /// The text of a string value up to its first NUL; nullopt when there is no such string value.
    std::optional<QString> GetString(RootKey hKey, const QString &strPath, const QString &strValue) const;
    void SaveString(RootKey hKey, const QString &strPath, const QString &strValue, const QString &strdata);
    void DeleteValue(RootKey hKey, const QString &strPath, const QString &strValue);
    void DeleteKey(RootKey hKey, const QString &strPath);

private:
    std::unique_ptr<RegistryBackend> m_backend;
};
