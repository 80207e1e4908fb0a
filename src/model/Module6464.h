#pragma once

#include "MailSettings.h"

class SettingsStore;

namespace Module6464 {
/// Fills the mail settings from the store, each key with its default.
void LoadMailSettings(const SettingsStore &store, MailSettings &settings);
} // namespace Module6464
