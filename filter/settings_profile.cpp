// FilterProfile over the settings store; see settings_profile.h.
#include "filter/settings_profile.h"

#include "settings/accounts.h"

namespace iw::filter {

std::vector<std::u16string> SettingsProfile::roster() { return settings::ReadRoster(store_, user_); }

std::u16string SettingsProfile::accountValue(const std::u16string& section, const std::u16string& key) {
    return settings::ReadSetting(store_, section, key, u"");
}

std::u16string SettingsProfile::unscramblePassword(const std::u16string& stored) {
    return settings::UnscramblePassword(codePage_, stored);
}

std::u16string SettingsProfile::readOption(const std::u16string& key, const std::u16string& defaultValue) {
    return settings::ReadSetting(store_, user_, key, defaultValue);
}

std::int32_t SettingsProfile::readOptionNumber(const std::u16string& key, std::int32_t defaultValue) {
    return settings::ReadSettingNumber(store_, settings::IniFile::Set, user_, key, defaultValue);
}

void SettingsProfile::writeOption(const std::u16string& key, const std::u16string& value) {
    settings::WriteSetting(store_, settings::IniFile::Set, user_, key, value);
}

std::u16string SettingsProfile::section(SenderList list) const {
    switch (list) {
        case SenderList::Black: return settings::BlackListSection(user_);
        case SenderList::Trust: return settings::TrustListSection(user_);
        case SenderList::Domain: break;
    }
    return settings::DomainListSection(user_);
}

std::int32_t SettingsProfile::listNumber(SenderList list, const std::u16string& key, std::int32_t defaultValue) {
    return settings::ReadSettingNumber(store_, settings::IniFile::Set, section(list), key, defaultValue);
}

void SettingsProfile::listAdd(SenderList list, const std::u16string& key) {
    settings::WriteSetting(store_, settings::IniFile::Set, section(list), key, u"0");
}

void SettingsProfile::listRemove(SenderList list, const std::u16string& key) {
    settings::DeleteSettingKey(store_, settings::IniFile::Set, section(list), key);
}

}  // namespace iw::filter
