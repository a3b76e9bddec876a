// The browser toolbar button; see toolbar_button.h.
#include "browser/toolbar_button.h"

#include "settings/registry_values.h"

namespace iw::browser {

namespace {

using platform::RegistryResult;
using platform::RegistryRoot;

char16_t upperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool hexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

std::u16string buttonKey(const std::u16string& guid) { return std::u16string(kExtensionsKey) + u"\\" + guid; }

}  // namespace

bool IsGuidText(const std::u16string& t) {
    if (t.size() != 38 || t.front() != u'{' || t.back() != u'}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? t[i] != u'-' : !hexDigit(t[i])) return false;
    }
    return true;
}

std::u16string NewGuidString(platform::Shell& shell) {
    std::u16string g = shell.newGuid();
    for (char16_t& c : g) c = upperAscii(c);
    return IsGuidText(g) ? g : std::u16string();
}

ToolbarButton::ToolbarButton(platform::Registry& registry, platform::Shell& shell, std::u16string appPath)
    : registry_(registry), shell_(shell), appPath_(std::move(appPath)) {}

ButtonResult ToolbarButton::switchButton(bool on) { return on ? create() : remove(); }

ButtonResult ToolbarButton::create() {
    // A key that "ShowIE" still names (its switch-off never ran, or set.ini
    // was lost while the key stayed) would be a second button.
    remove();
    const std::u16string guid = NewGuidString(shell_);
    if (guid.empty()) return ButtonResult::Failed;
    const std::u16string key = buttonKey(guid);
    const std::pair<const char16_t*, std::u16string> values[] = {
        {u"ButtonText", kButtonText},
        {u"CLSID", kRunProgramButtonClsid},
        {u"Default Visible", u"Yes"},
        {u"Exec", appPath_ + kProgramFile},
        {u"HotIcon", appPath_ + kHotIconFile},
        {u"Icon", appPath_ + kNormalIconFile},
    };
    for (const RegistryRoot root : {RegistryRoot::LocalMachine, RegistryRoot::CurrentUser}) {
        bool written = true;
        for (const auto& [name, value] : values) {
            if (registry_.writeString(root, key, name, value) != RegistryResult::Ok) {
                written = false;
                break;
            }
        }
        if (written) {
            settings::RegistryValues(registry_).WriteRegString(kShowIeValue, guid);
            return ButtonResult::Created;
        }
        // No half-made button is left behind; the next root is tried.
        registry_.deleteKey(root, key);
    }
    return ButtonResult::Failed;
}

ButtonResult ToolbarButton::remove() {
    // Only a key of GUID form is ever ours. An empty or damaged "ShowIE"
    // must never lead to deleting the extensions key itself (and with it
    // every other program's buttons).
    const std::u16string guid = settings::RegistryValues(registry_).ReadRegString(kShowIeValue);
    if (!IsGuidText(guid)) return ButtonResult::NothingToRemove;
    const std::u16string key = buttonKey(guid);
    bool removed = false, failed = false;
    for (const RegistryRoot root : {RegistryRoot::LocalMachine, RegistryRoot::CurrentUser}) {
        const RegistryResult r = registry_.deleteKey(root, key);
        if (r == RegistryResult::Ok) removed = true;
        else if (r != RegistryResult::NotFound) failed = failed || registry_.readString(root, key, u"CLSID").has_value();
    }
    if (failed) return ButtonResult::Failed;
    return removed ? ButtonResult::Removed : ButtonResult::NothingToRemove;
}

}  // namespace iw::browser
