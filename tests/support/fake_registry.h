// An in-memory Registry for tests. Key paths and value names match without
// regard to letter case, as in the Windows registry. A switch makes every
// write and delete under HKEY_LOCAL_MACHINE fail with AccessDenied, as it
// does for a normal user on a current Windows.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "platform/registry.h"

namespace iw::test {

class FakeRegistry : public platform::Registry {
public:
    std::optional<std::u16string> readString(platform::RegistryRoot root, const std::u16string& key,
                                             const std::u16string& name) const override;
    std::optional<std::uint32_t> readDword(platform::RegistryRoot root, const std::u16string& key,
                                           const std::u16string& name) const override;
    platform::RegistryResult writeString(platform::RegistryRoot root, const std::u16string& key,
                                         const std::u16string& name, const std::u16string& value) override;
    platform::RegistryResult writeDword(platform::RegistryRoot root, const std::u16string& key,
                                        const std::u16string& name, std::uint32_t value) override;
    platform::RegistryResult deleteValue(platform::RegistryRoot root, const std::u16string& key,
                                         const std::u16string& name) override;
    platform::RegistryResult deleteKey(platform::RegistryRoot root, const std::u16string& key) override;

    void setRefuseLocalMachineWrites(bool refuse) { refuseMachine_ = refuse; }

    // Whether a value of any type exists.
    bool has(platform::RegistryRoot root, const std::u16string& key, const std::u16string& name) const;
    // Stores a value of 1 to 3 bytes (or any length), which readDword does not take.
    void putBinary(platform::RegistryRoot root, const std::u16string& key, const std::u16string& name,
                   std::string bytes);

private:
    using Value = std::variant<std::u16string, std::uint32_t, std::string>;
    using Path = std::pair<platform::RegistryRoot, std::u16string>;  // folded key path
    bool refused(platform::RegistryRoot root) const {
        return refuseMachine_ && root == platform::RegistryRoot::LocalMachine;
    }
    const Value* find(platform::RegistryRoot root, const std::u16string& key, const std::u16string& name) const;

    std::map<Path, std::map<std::u16string, Value>> keys_;  // folded value name -> value
    bool refuseMachine_ = false;
};

}  // namespace iw::test
