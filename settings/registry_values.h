// The program's registry values, read and written through platform::Registry.
// Writes go to HKEY_LOCAL_MACHINE and, when the system refuses them there (as
// it does for every normal user on a current Windows), to the same path under
// HKEY_CURRENT_USER. A write that succeeds under HKEY_LOCAL_MACHINE removes
// the user's copy, so a value under HKEY_CURRENT_USER is always the newer
// one: reads look there first, then under HKEY_LOCAL_MACHINE.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace iw::settings {

inline constexpr char16_t kProgramKey[] = u"Software\\Inkwarden";
inline constexpr char16_t kRunKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char16_t kRunValueName[] = u"Inkwarden";

class RegistryValues {
public:
    explicit RegistryValues(platform::Registry& registry) : registry_(registry) {}

    // The first-run marker: the key's unnamed value as a 4-byte number, 0 when
    // missing. Configured only when it is 1.
    std::uint32_t ReadFirstRunNumber() const;
    bool WriteFirstRunDone();

    // A string value under Software\Inkwarden ("PassWord", "ShowIE"); "" when
    // it cannot be read.
    std::u16string ReadRegString(const std::u16string& name) const;
    bool WriteRegString(const std::u16string& name, const std::u16string& value);

    // The start-at-log-on value.
    bool SetRunAtLogon(bool on, const std::u16string& exePath);
    bool RunAtLogon() const;

private:
    platform::Registry& registry_;
};

}  // namespace iw::settings
