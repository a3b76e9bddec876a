// Registry values, one whole operation per call: each call opens the key,
// does its work and closes the key again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace iw::platform {

enum class RegistryRoot { LocalMachine, CurrentUser, ClassesRoot };

// What happened to a write or delete.
enum class RegistryResult {
    Ok,
    AccessDenied,  // the system refused (no right to write there)
    NotFound,      // delete of a key or value that does not exist
    Failed,        // any other error
};

class Registry {
public:
    virtual ~Registry() = default;

    // A string value (REG_SZ or REG_EXPAND_SZ, not expanded); nullopt when
    // the key or value is missing or of another type. An empty name reads
    // the key's unnamed default value.
    virtual std::optional<std::u16string> readString(RegistryRoot root, const std::u16string& key,
                                                     const std::u16string& name) const = 0;

    // A DWORD value; nullopt when missing or not 4 bytes.
    virtual std::optional<std::uint32_t> readDword(RegistryRoot root, const std::u16string& key,
                                                   const std::u16string& name) const = 0;

    // Creates the key when missing and sets one value.
    virtual RegistryResult writeString(RegistryRoot root, const std::u16string& key,
                                       const std::u16string& name, const std::u16string& value) = 0;
    virtual RegistryResult writeDword(RegistryRoot root, const std::u16string& key,
                                      const std::u16string& name, std::uint32_t value) = 0;

    virtual RegistryResult deleteValue(RegistryRoot root, const std::u16string& key,
                                       const std::u16string& name) = 0;
    // Deletes a key with all its subkeys and values.
    virtual RegistryResult deleteKey(RegistryRoot root, const std::u16string& key) = 0;
};

}  // namespace iw::platform
