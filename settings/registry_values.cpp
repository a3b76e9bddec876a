// The program's registry values with the HKEY_CURRENT_USER fallback.
#include "settings/registry_values.h"

namespace iw::settings {

namespace {

using platform::RegistryResult;
using platform::RegistryRoot;

bool ok(RegistryResult r) { return r == RegistryResult::Ok; }
bool gone(RegistryResult r) { return r == RegistryResult::Ok || r == RegistryResult::NotFound; }

std::u16string cutAtNul(std::u16string s) {
    const std::size_t nul = s.find(u'\0');
    if (nul != std::u16string::npos) s.resize(nul);
    return s;
}

}  // namespace

// A value under HKEY_CURRENT_USER exists only when the last write was refused
// under HKEY_LOCAL_MACHINE (a write that succeeds there removes the user's
// copy), so it is the newer one and is read first. Reading HKEY_LOCAL_MACHINE
// first would hide every change a normal user makes behind the value an
// administrator wrote once.

std::uint32_t RegistryValues::ReadFirstRunNumber() const {
    if (auto v = registry_.readDword(RegistryRoot::CurrentUser, kProgramKey, u"")) return *v;
    if (auto v = registry_.readDword(RegistryRoot::LocalMachine, kProgramKey, u"")) return *v;
    return 0;
}

bool RegistryValues::WriteFirstRunDone() {
    if (ok(registry_.writeDword(RegistryRoot::LocalMachine, kProgramKey, u"", 1))) {
        registry_.deleteValue(RegistryRoot::CurrentUser, kProgramKey, u"");
        return true;
    }
    return ok(registry_.writeDword(RegistryRoot::CurrentUser, kProgramKey, u"", 1));
}

std::u16string RegistryValues::ReadRegString(const std::u16string& name) const {
    if (auto v = registry_.readString(RegistryRoot::CurrentUser, kProgramKey, name)) return cutAtNul(*v);
    if (auto v = registry_.readString(RegistryRoot::LocalMachine, kProgramKey, name)) return cutAtNul(*v);
    return u"";
}

bool RegistryValues::WriteRegString(const std::u16string& name, const std::u16string& value) {
    if (ok(registry_.writeString(RegistryRoot::LocalMachine, kProgramKey, name, value))) {
        registry_.deleteValue(RegistryRoot::CurrentUser, kProgramKey, name);
        return true;
    }
    return ok(registry_.writeString(RegistryRoot::CurrentUser, kProgramKey, name, value));
}

bool RegistryValues::SetRunAtLogon(bool on, const std::u16string& exePath) {
    if (on) {
        if (ok(registry_.writeString(RegistryRoot::LocalMachine, kRunKey, kRunValueName, exePath))) {
            registry_.deleteValue(RegistryRoot::CurrentUser, kRunKey, kRunValueName);
            return true;
        }
        return ok(registry_.writeString(RegistryRoot::CurrentUser, kRunKey, kRunValueName, exePath));
    }
    // Off: remove it from both places. A value left under HKEY_LOCAL_MACHINE
    // that the system does not let us remove still starts the program, so
    // that is reported as a failure.
    const bool machine = gone(registry_.deleteValue(RegistryRoot::LocalMachine, kRunKey, kRunValueName)) ||
                         !registry_.readString(RegistryRoot::LocalMachine, kRunKey, kRunValueName);
    const bool user = gone(registry_.deleteValue(RegistryRoot::CurrentUser, kRunKey, kRunValueName));
    return machine && user;
}

bool RegistryValues::RunAtLogon() const {
    return registry_.readString(RegistryRoot::CurrentUser, kRunKey, kRunValueName).has_value() ||
           registry_.readString(RegistryRoot::LocalMachine, kRunKey, kRunValueName).has_value();
}

}  // namespace iw::settings
