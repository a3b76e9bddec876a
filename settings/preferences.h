// The user's preferences as the running program keeps them: the twelve
// option switches and the three values the timers and the browser watcher
// read. They are read from set.ini at start-up (switches) and at the main
// window's load (the rest), and replaced when the settings dialog saves.
//
// The switches are stored as key "Option" of the user's section: twelve
// characters, one per switch in the order of kOptionFields, "1" for on. A
// switch is on only when its character is "1": a shorter value leaves the
// missing switches off and any other character reads as off, as the program
// always read it. Reading never writes the value back; only the settings
// dialog's save replaces it, with twelve "0"/"1" characters.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace iw::settings {

class SettingsStore;

// The stored value when the key is missing.
inline constexpr char16_t kDefaultOptionText[] = u"011011000100";
inline constexpr int kOptionCount = 12;

// The twelve switches. Each field's position in kOptionFields is its
// character in the stored value and the number of its check box in the
// settings dialog (0 to 11); nothing else numbers them.
struct Options {
    bool startAtLogon = false;           // 0 "開機自動執行程式"
    bool periodicCheck = true;           // 1 "自動檢查新郵件,每隔"
    bool openFilterWindow = true;        // 2 "自動開啟郵件過濾程式,當郵件超過"
    bool blackListFilter = false;        // 3 "啟用黑名單過濾郵件"
    bool sizeLimit = true;               // 4 "不下載郵件超過"
    bool blankSenderIsJunk = true;       // 5 "寄信者空白視為垃圾郵件"
    bool trustIgnoresSizeLimit = false;  // 6 "信任名單不受大小限制"
    bool clockCorrection = false;        // 7 "啟用時間校正(主機)"
    bool webAddressFilter = false;       // 8 "啟用網站過濾."
    bool closeBlankPages = true;         // 9 "空白網址關閉."
    bool fetchInBatches = false;         // 10 "郵件超過百封,分次下載郵件"
    bool domainListFilter = false;       // 11 "啟用網域過濾郵件"

    // The switch at `index` (0 to 11); an index outside reads as off and is
    // not written.
    bool get(int index) const;
    void set(int index, bool on);

    // The switches a stored "Option" value holds (see the top of this file).
    static Options FromStored(std::u16string_view text);
    // The twelve-character value to store.
    std::u16string toStored() const;

    bool operator==(const Options&) const = default;
};

inline constexpr std::array<bool Options::*, kOptionCount> kOptionFields = {
    &Options::startAtLogon,      &Options::periodicCheck,     &Options::openFilterWindow,
    &Options::blackListFilter,   &Options::sizeLimit,         &Options::blankSenderIsJunk,
    &Options::trustIgnoresSizeLimit, &Options::clockCorrection, &Options::webAddressFilter,
    &Options::closeBlankPages,   &Options::fetchInBatches,    &Options::domainListFilter,
};

// The switches stored in the user's section, or the defaults when the key is
// missing.
Options ReadOptions(SettingsStore& store, const std::u16string& userSection);

// The preferences the running program reads from memory.
struct Preferences {
    Options options;
    int CheckIntervalMinutes = 3;  // minutes between background checks
    int OpenThreshold = 1;         // waiting messages that open the filter window by itself
    double PopupRatio = 0.75;      // pop-up size fraction of the browser watcher
};

}  // namespace iw::settings
