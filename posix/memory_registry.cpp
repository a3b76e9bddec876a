// The registry of the native build: values kept in memory for the life of
// the process, starting empty (the console front end has no registry).
// Key paths compare without regard to letter case, as the system's do.
#include <map>
#include <tuple>

#include "platform/native.h"

namespace iw::posix {
namespace {

std::u16string folded(const std::u16string& s) {
    std::u16string r = s;
    for (char16_t& c : r)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    // Trailing separators name the same key.
    while (!r.empty() && r.back() == u'\\') r.pop_back();
    return r;
}

class MemoryRegistry : public platform::Registry {
public:
    struct Value {
        bool isDword = false;
        std::u16string text;
        std::uint32_t number = 0;
    };
    using KeyName = std::pair<platform::RegistryRoot, std::u16string>;

    std::optional<std::u16string> readString(platform::RegistryRoot root, const std::u16string& key,
                                             const std::u16string& name) const override {
        const Value* v = find(root, key, name);
        if (!v || v->isDword) return std::nullopt;
        return v->text;
    }
    std::optional<std::uint32_t> readDword(platform::RegistryRoot root, const std::u16string& key,
                                           const std::u16string& name) const override {
        const Value* v = find(root, key, name);
        if (!v || !v->isDword) return std::nullopt;
        return v->number;
    }
    platform::RegistryResult writeString(platform::RegistryRoot root, const std::u16string& key,
                                         const std::u16string& name, const std::u16string& value) override {
        keys_[{root, folded(key)}][folded(name)] = Value{false, value, 0};
        return platform::RegistryResult::Ok;
    }
    platform::RegistryResult writeDword(platform::RegistryRoot root, const std::u16string& key,
                                        const std::u16string& name, std::uint32_t value) override {
        keys_[{root, folded(key)}][folded(name)] = Value{true, {}, value};
        return platform::RegistryResult::Ok;
    }
    platform::RegistryResult deleteValue(platform::RegistryRoot root, const std::u16string& key,
                                         const std::u16string& name) override {
        auto k = keys_.find({root, folded(key)});
        if (k == keys_.end() || k->second.erase(folded(name)) == 0) return platform::RegistryResult::NotFound;
        return platform::RegistryResult::Ok;
    }
    platform::RegistryResult deleteKey(platform::RegistryRoot root, const std::u16string& key) override {
        const std::u16string base = folded(key);
        const std::u16string prefix = base + u"\\";
        bool any = false;
        for (auto it = keys_.begin(); it != keys_.end();) {
            const bool match = it->first.first == root &&
                               (it->first.second == base || it->first.second.starts_with(prefix));
            if (match) {
                it = keys_.erase(it);
                any = true;
            } else {
                ++it;
            }
        }
        return any ? platform::RegistryResult::Ok : platform::RegistryResult::NotFound;
    }

private:
    const Value* find(platform::RegistryRoot root, const std::u16string& key, const std::u16string& name) const {
        auto k = keys_.find({root, folded(key)});
        if (k == keys_.end()) return nullptr;
        auto v = k->second.find(folded(name));
        return v == k->second.end() ? nullptr : &v->second;
    }

    std::map<KeyName, std::map<std::u16string, Value>> keys_;
};

}  // namespace
}  // namespace iw::posix

namespace iw::platform {
std::unique_ptr<Registry> createRegistry() { return std::make_unique<posix::MemoryRegistry>(); }
}  // namespace iw::platform
