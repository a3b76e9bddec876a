// The settings the filter window reads and writes, as one narrow interface:
// the account roster and account sections, the window's own options in the
// user's section, and the three sender lists. SettingsProfile implements it
// over the settings store; tests use an in-memory fake.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace iw::filter {

enum class SenderList { Black, Trust, Domain };

class FilterProfile {
public:
    virtual ~FilterProfile() = default;

    // The roster: every account section name in file order.
    virtual std::vector<std::u16string> roster() = 0;
    // A key of an account's section ("Account", "PassWord", "PoP3"); "" when missing.
    virtual std::u16string accountValue(const std::u16string& section, const std::u16string& key) = 0;
    // The stored (scrambled) password made readable, just before it is sent.
    virtual std::u16string unscramblePassword(const std::u16string& stored) = 0;

    // Window options in the user's section.
    virtual std::u16string readOption(const std::u16string& key, const std::u16string& defaultValue) = 0;
    virtual std::int32_t readOptionNumber(const std::u16string& key, std::int32_t defaultValue) = 0;
    virtual void writeOption(const std::u16string& key, const std::u16string& value) = 0;

    // Sender lists: the keyed number read (`defaultValue` when missing), a
    // key written with "0", a key deleted.
    virtual std::int32_t listNumber(SenderList list, const std::u16string& key, std::int32_t defaultValue) = 0;
    virtual void listAdd(SenderList list, const std::u16string& key) = 0;
    virtual void listRemove(SenderList list, const std::u16string& key) = 0;
};

}  // namespace iw::filter
