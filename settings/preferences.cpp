// The option switches and their stored form; see preferences.h.
#include "settings/preferences.h"

#include "settings/settings_store.h"

namespace iw::settings {

bool Options::get(int index) const {
    if (index < 0 || index >= kOptionCount) return false;
    return this->*kOptionFields[static_cast<std::size_t>(index)];
}

void Options::set(int index, bool on) {
    if (index < 0 || index >= kOptionCount) return;
    this->*kOptionFields[static_cast<std::size_t>(index)] = on;
}

Options Options::FromStored(std::u16string_view text) {
    Options o;
    for (int i = 0; i < kOptionCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        o.set(i, at < text.size() && text[at] == u'1');
    }
    return o;
}

std::u16string Options::toStored() const {
    std::u16string text;
    for (int i = 0; i < kOptionCount; ++i) text += get(i) ? u'1' : u'0';
    return text;
}

Options ReadOptions(SettingsStore& store, const std::u16string& userSection) {
    return Options::FromStored(store.read(IniFile::Set, userSection, u"Option", kDefaultOptionText));
}

}  // namespace iw::settings
