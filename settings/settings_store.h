// The settings store: set.ini and ie.ini in the program folder, read and
// written with the Windows private-profile rules (names match without regard
// to letter case; a new key goes to the end of its section, a new section to
// the end of the file; key lists come in file order; number reads take the
// leading decimal number), in code page 950 with CR LF line ends.
//
// Each file is parsed once and kept; it is parsed again only when its size or
// write time changes on disk, so a keyed read costs microseconds even in a
// section of 10,000 keys. With setStampInterval() the stamp itself is looked
// at no more than once per interval for reads. Every write replaces the file atomically through
// FileStore. Values are never cut at a buffer size.
//
// No operation reports failure to the user: a missing file, section or key
// yields the caller's default; a write the system refuses returns false and
// leaves the file as it was. A file that exists but cannot be read (no
// regular file, larger than platform::kMaxReadBytes, refused by the system)
// reads as empty and is never written: every write returns false while it
// is in that state. problem() says why, for the front ends to tell the user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_store.h"
#include "platform/system_clock.h"

namespace iw::settings {

enum class IniFile { Set, Ie };  // set.ini, ie.ini

// The stamp interval the program's front ends use (see setStampInterval):
// an edit another program makes to set.ini shows within a second.
constexpr double kStampIntervalSeconds = 1.0;

// How ReadListSection turns a line into an entry.
enum class ListEntryRule {
    BeforeEquals,      // black list and ie.ini: the text before the first "="
    DropLastTwoChars,  // trust list: the line without its last two characters ("=0")
};

class SettingsStore {
public:
    // `appPath` is the program folder with its trailing separator.
    SettingsStore(platform::FileStore& files, const platform::CodePage& codePage, std::u16string appPath);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::u16string& appPath() const;
    std::u16string path(IniFile file) const;

    // Why the file cannot be read now: None when it can or when it is
    // missing (a missing file is an empty profile, written on first change).
    platform::FileProblem problem(IniFile file) const;

    // The value as stored, or nullopt when the key (or file) is missing.
    std::optional<std::u16string> find(IniFile file, const std::u16string& section, const std::u16string& key);

    std::u16string read(IniFile file, const std::u16string& section, const std::u16string& key,
                        const std::u16string& defaultValue);

    // The value's leading decimal number with an optional minus sign ("-1" is
    // -1, "12abc" is 12, "abc" is 0); `defaultValue` when the key is missing.
    std::int32_t readNumber(IniFile file, const std::u16string& section, const std::u16string& key,
                            std::int32_t defaultValue);

    // Replaces in place, or appends at the end of the section (creating the
    // section at the end of the file). A nullopt value deletes the key.
    bool write(IniFile file, const std::u16string& section, const std::u16string& key,
               const std::optional<std::u16string>& value);
    bool deleteKey(IniFile file, const std::u16string& section, const std::u16string& key);
    bool deleteSection(IniFile file, const std::u16string& section);

    // Key names of a section in file order; empty when missing.
    std::vector<std::u16string> listKeys(IniFile file, const std::u16string& section);

    // The settings dialog's line-by-line list read: entries between the line
    // "[section]" (letter case counts) and the first empty line or line that
    // starts with "[".
    std::vector<std::u16string> readListSection(IniFile file, const std::u16string& section, ListEntryRule rule);

    // Lets keyed reads trust the cached document for up to `seconds` of
    // `clock` after its file's stamp was last checked, so a burst of reads
    // (three per message row) costs one look at the disk instead of one per
    // read. Writes through this store are seen by the next read at once (the
    // cache takes them); a change another program makes to the file is seen
    // once the interval has passed. A write always checks the stamp first, so
    // it never overwrites a change made outside. Time that runs backwards
    // (midnight, the clock being set) counts as the interval having passed.
    // Without this call every read checks the stamp. `clock` must outlive
    // the store.
    void setStampInterval(const platform::SystemClock& clock, double seconds);

    // Turns the parse cache off (every read parses the file again), for the
    // benchmarks that show what the cache buys. On by default.
    void setCacheEnabled(bool enabled);

private:
    struct Impl;
    Impl* impl_;
};

// The message that tells the user why `fileName` (set.ini, ie.ini) is not
// used; empty for FileProblem::None and Missing.
std::u16string SettingsFileProblemText(const std::u16string& fileName, platform::FileProblem problem);

// The operations by the names the rest of the program uses. ReadSetting and
// ListSectionKeys work on set.ini.
std::u16string ReadSetting(SettingsStore& s, const std::u16string& section, const std::u16string& key,
                           const std::u16string& defaultValue);
std::int32_t ReadSettingNumber(SettingsStore& s, IniFile file, const std::u16string& section,
                               const std::u16string& key, std::int32_t defaultValue);
bool WriteSetting(SettingsStore& s, IniFile file, const std::u16string& section, const std::u16string& key,
                  const std::u16string& value);
bool DeleteSettingKey(SettingsStore& s, IniFile file, const std::u16string& section, const std::u16string& key);
bool DeleteSettingSection(SettingsStore& s, IniFile file, const std::u16string& section);
std::vector<std::u16string> ListSectionKeys(SettingsStore& s, const std::u16string& section);
std::vector<std::u16string> ReadListSection(SettingsStore& s, IniFile file, const std::u16string& section,
                                            ListEntryRule rule);

}  // namespace iw::settings
