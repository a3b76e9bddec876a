// The system registry, one whole operation per call: open (or create) the
// key, read or change one value, close the key. ERROR_ACCESS_DENIED becomes
// AccessDenied, so callers can fall back from HKEY_LOCAL_MACHINE.
#include <vector>

#include "platform/native.h"
#include "win32/platform/handles.h"

namespace iw::win32 {
namespace {

using platform::RegistryResult;
using platform::RegistryRoot;

HKEY rootKey(RegistryRoot r) {
    switch (r) {
    case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    }
    return HKEY_CURRENT_USER;
}

RegistryResult mapError(LSTATUS s) {
    switch (s) {
    case ERROR_SUCCESS: return RegistryResult::Ok;
    case ERROR_ACCESS_DENIED: return RegistryResult::AccessDenied;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return RegistryResult::NotFound;
    default: return RegistryResult::Failed;
    }
}

// The raw bytes and type of one value, of any length.
bool queryValue(RegistryRoot root, const std::u16string& key, const std::u16string& name, DWORD& type,
                std::vector<BYTE>& data) {
    UniqueKey k;
    if (RegOpenKeyExW(rootKey(root), wide(key), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    LSTATUS s = RegQueryValueExW(k.get(), wide(name), nullptr, &type, nullptr, &size);
    // The value may grow between the two calls; ask again with the new size.
    for (int tries = 0; tries < 8 && s == ERROR_SUCCESS; ++tries) {
        data.resize(size);
        DWORD got = size;
        s = RegQueryValueExW(k.get(), wide(name), nullptr, &type, data.empty() ? nullptr : data.data(), &got);
        if (s == ERROR_SUCCESS) {
            data.resize(got);
            return true;
        }
        if (s == ERROR_MORE_DATA) {
            size = got > size ? got : size * 2 + 2;
            s = ERROR_SUCCESS;
        }
    }
    return false;
}

RegistryResult setValue(RegistryRoot root, const std::u16string& key, const std::u16string& name, DWORD type,
                        const BYTE* data, DWORD size) {
    UniqueKey k;
    LSTATUS s = RegCreateKeyExW(rootKey(root), wide(key), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                nullptr, k.put(), nullptr);
    if (s != ERROR_SUCCESS) return s == ERROR_ACCESS_DENIED ? RegistryResult::AccessDenied : RegistryResult::Failed;
    s = RegSetValueExW(k.get(), wide(name), 0, type, data, size);
    return s == ERROR_SUCCESS ? RegistryResult::Ok
                              : (s == ERROR_ACCESS_DENIED ? RegistryResult::AccessDenied : RegistryResult::Failed);
}

class RegistryImpl final : public platform::Registry {
public:
    std::optional<std::u16string> readString(RegistryRoot root, const std::u16string& key,
                                             const std::u16string& name) const override {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!queryValue(root, key, name, type, data)) return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        std::u16string text(data.size() / 2, u'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        // The stored length counts the terminating NUL (and may hold more).
        const auto nul = text.find(u'\0');
        if (nul != std::u16string::npos) text.resize(nul);
        return text;
    }

    std::optional<std::uint32_t> readDword(RegistryRoot root, const std::u16string& key,
                                           const std::u16string& name) const override {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!queryValue(root, key, name, type, data) || data.size() != 4) return std::nullopt;
        return static_cast<std::uint32_t>(data[0] | (data[1] << 8) | (data[2] << 16)) |
               (static_cast<std::uint32_t>(data[3]) << 24);
    }

    RegistryResult writeString(RegistryRoot root, const std::u16string& key, const std::u16string& name,
                               const std::u16string& value) override {
        // The length handed to the system counts the terminating NUL.
        const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(char16_t));
        return setValue(root, key, name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), size);
    }

    RegistryResult writeDword(RegistryRoot root, const std::u16string& key, const std::u16string& name,
                              std::uint32_t value) override {
        const DWORD v = value;
        return setValue(root, key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
    }

    RegistryResult deleteValue(RegistryRoot root, const std::u16string& key, const std::u16string& name) override {
        UniqueKey k;
        LSTATUS s = RegOpenKeyExW(rootKey(root), wide(key), 0, KEY_SET_VALUE, k.put());
        if (s != ERROR_SUCCESS) return mapError(s);
        return mapError(RegDeleteValueW(k.get(), wide(name)));
    }

    RegistryResult deleteKey(RegistryRoot root, const std::u16string& key) override {
        // An empty name would mean the whole root: refused.
        if (key.empty() || key.find_first_not_of(u"\\") == std::u16string::npos) return RegistryResult::Failed;
        return mapError(RegDeleteTreeW(rootKey(root), wide(key)));
    }
};

}  // namespace
}  // namespace iw::win32

namespace iw::platform {
std::unique_ptr<Registry> createRegistry() { return std::make_unique<win32::RegistryImpl>(); }
}  // namespace iw::platform
