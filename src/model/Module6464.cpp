#include "Module6464.h"

#include "SettingsStore.h"

void Module6464::LoadMailSettings(const SettingsStore &store, MailSettings &settings)
{
    settings.strEmailTo = store.GetSetting(SettingKeys::EmailTo);
    settings.strEmailFrom = store.GetSetting(SettingKeys::EmailFrom);
    settings.strServer = store.GetSetting(SettingKeys::Server);
    settings.strPort = store.GetSetting(SettingKeys::Port);
    settings.strSecurity = store.GetSetting(SettingKeys::Security);
    settings.strUser = store.GetSetting(SettingKeys::User);
}
