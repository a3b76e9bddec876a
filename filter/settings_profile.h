// FilterProfile over the settings store: the roster and account sections,
// the window options in the user's section and the user's sender lists,
// all in set.ini.
#pragma once

#include <string>

#include "filter/filter_profile.h"
#include "platform/code_page.h"
#include "settings/settings_store.h"

namespace iw::filter {

class SettingsProfile : public FilterProfile {
public:
    SettingsProfile(settings::SettingsStore& store, const platform::CodePage& codePage, std::u16string userSection)
        : store_(store), codePage_(codePage), user_(std::move(userSection)) {}

    std::vector<std::u16string> roster() override;
    std::u16string accountValue(const std::u16string& section, const std::u16string& key) override;
    std::u16string unscramblePassword(const std::u16string& stored) override;
    std::u16string readOption(const std::u16string& key, const std::u16string& defaultValue) override;
    std::int32_t readOptionNumber(const std::u16string& key, std::int32_t defaultValue) override;
    void writeOption(const std::u16string& key, const std::u16string& value) override;
    std::int32_t listNumber(SenderList list, const std::u16string& key, std::int32_t defaultValue) override;
    void listAdd(SenderList list, const std::u16string& key) override;
    void listRemove(SenderList list, const std::u16string& key) override;

private:
    std::u16string section(SenderList list) const;

    settings::SettingsStore& store_;
    const platform::CodePage& codePage_;
    std::u16string user_;
};

}  // namespace iw::filter
