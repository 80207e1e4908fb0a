#include "AddRemove.h"

#include <netquill/BuildIdentity.h>

#ifdef _WIN32
#include "WindowsRegistry.h"
#else
#include "PortableRegistry.h"
#endif

namespace {

std::unique_ptr<RegistryBackend> platformBackend()
{
#ifdef _WIN32
    return std::make_unique<WindowsRegistry>();
#else
    return std::make_unique<PortableRegistry>(QString::fromUtf8(BuildIdentity::ProductName));
#endif
}

QString uninstallKey(const QString &ProgramName)
{
    return QLatin1String(AddRemove::UninstallKeyPrefix) + ProgramName;
}

} // namespace

AddRemove::AddRemove() : m_backend(platformBackend()) {}

AddRemove::AddRemove(std::unique_ptr<RegistryBackend> backend) : m_backend(std::move(backend)) {}

AddRemove::~AddRemove() = default;

void AddRemove::AddToList(const QString &ProgramName, const QString &UninstallCommand)
{
    SaveString(ProgramRoot, uninstallKey(ProgramName), QLatin1String(DisplayNameValue), ProgramName);
    SaveString(ProgramRoot, uninstallKey(ProgramName), QLatin1String(UninstallStringValue), UninstallCommand);
}

void AddRemove::RemoveFromList(const QString &ProgramName)
{
    DeleteKey(ProgramRoot, uninstallKey(ProgramName));
}

void AddRemove::AddToRun(const QString &ProgramName, const QString &FileToRun)
{
    SaveString(ProgramRoot, QLatin1String(RunKeyPath), ProgramName, FileToRun);
}

void AddRemove::RemoveFromRun(const QString &ProgramName)
{
    DeleteValue(ProgramRoot, QLatin1String(RunKeyPath), ProgramName);
}

void AddRemove::SaveKey(RootKey hKey, const QString &strPath)
{
    m_backend->createKey(hKey, strPath);
}

std::optional<QString> AddRemove::GetString(RootKey hKey, const QString &strPath,
                                            const QString &strValue) const
{
    const std::optional<RegistryValue> value = m_backend->queryValue(hKey, strPath, strValue);
    if (!value || value->type != RegistryType::String)
        return std::nullopt;
    // Stored text need not end in a NUL; when it holds one, the text ends there.
    const qsizetype end = value->data.indexOf(QChar(0));
    return end < 0 ? value->data : value->data.left(end);
}

void AddRemove::SaveString(RootKey hKey, const QString &strPath, const QString &strValue,
                           const QString &strdata)
{
    m_backend->setString(hKey, strPath, strValue, strdata);
}

void AddRemove::DeleteValue(RootKey hKey, const QString &strPath, const QString &strValue)
{
    m_backend->deleteValue(hKey, strPath, strValue);
}

void AddRemove::DeleteKey(RootKey hKey, const QString &strPath)
{
    m_backend->deleteKey(hKey, strPath);
}
