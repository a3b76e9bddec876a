// The in-memory Registry.
#include "tests/support/fake_registry.h"

namespace iw::test {

namespace {

std::u16string fold(const std::u16string& s) {
    std::u16string out = s;
    for (char16_t& c : out)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return out;
}

}  // namespace

using platform::RegistryResult;
using platform::RegistryRoot;

const FakeRegistry::Value* FakeRegistry::find(RegistryRoot root, const std::u16string& key,
                                              const std::u16string& name) const {
    auto k = keys_.find({root, fold(key)});
    if (k == keys_.end()) return nullptr;
    auto v = k->second.find(fold(name));
    return v == k->second.end() ? nullptr : &v->second;
}

std::optional<std::u16string> FakeRegistry::readString(RegistryRoot root, const std::u16string& key,
                                                       const std::u16string& name) const {
    const Value* v = find(root, key, name);
    if (!v || !std::holds_alternative<std::u16string>(*v)) return std::nullopt;
    return std::get<std::u16string>(*v);
}

std::optional<std::uint32_t> FakeRegistry::readDword(RegistryRoot root, const std::u16string& key,
                                                     const std::u16string& name) const {
    const Value* v = find(root, key, name);
    if (!v || !std::holds_alternative<std::uint32_t>(*v)) return std::nullopt;
    return std::get<std::uint32_t>(*v);
}

RegistryResult FakeRegistry::writeString(RegistryRoot root, const std::u16string& key, const std::u16string& name,
                                         const std::u16string& value) {
    if (refused(root)) return RegistryResult::AccessDenied;
    keys_[{root, fold(key)}][fold(name)] = value;
    return RegistryResult::Ok;
}

RegistryResult FakeRegistry::writeDword(RegistryRoot root, const std::u16string& key, const std::u16string& name,
                                        std::uint32_t value) {
    if (refused(root)) return RegistryResult::AccessDenied;
    keys_[{root, fold(key)}][fold(name)] = value;
    return RegistryResult::Ok;
}

RegistryResult FakeRegistry::deleteValue(RegistryRoot root, const std::u16string& key, const std::u16string& name) {
    if (refused(root)) return RegistryResult::AccessDenied;
    auto k = keys_.find({root, fold(key)});
    if (k == keys_.end() || !k->second.erase(fold(name))) return RegistryResult::NotFound;
    return RegistryResult::Ok;
}

RegistryResult FakeRegistry::deleteKey(RegistryRoot root, const std::u16string& key) {
    if (refused(root)) return RegistryResult::AccessDenied;
    const std::u16string f = fold(key);
    bool any = false;
    for (auto it = keys_.begin(); it != keys_.end();) {
        const std::u16string& p = it->first.second;
        if (it->first.first == root && (p == f || p.starts_with(f + u"\\"))) {
            it = keys_.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any ? RegistryResult::Ok : RegistryResult::NotFound;
}

bool FakeRegistry::has(RegistryRoot root, const std::u16string& key, const std::u16string& name) const {
    return find(root, key, name) != nullptr;
}

void FakeRegistry::putBinary(RegistryRoot root, const std::u16string& key, const std::u16string& name,
                             std::string bytes) {
    keys_[{root, fold(key)}][fold(name)] = std::move(bytes);
}

}  // namespace iw::test
