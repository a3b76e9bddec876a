// The settings store over IniDocument: one cached document per file, checked
// against the file's stamp before each use, and whole-file atomic writes.
#include "settings/settings_store.h"

#include <memory>
#include <utility>

#include "settings/ini_document.h"

namespace iw::settings {

namespace {

struct CachedFile {
    bool loaded = false;
    std::optional<platform::FileStamp> stamp;  // nullopt: the file did not exist
    bool checked = false;                      // checkedAt holds when the stamp was last looked at
    double checkedAt = 0;                      // seconds since midnight of the store's clock
    IniDocument doc;
};

}  // namespace

struct SettingsStore::Impl {
    platform::FileStore& files;
    const platform::CodePage& cp;
    std::u16string appPath;
    bool cacheEnabled = true;
    CachedFile cache[2];
    std::u16string paths[2];  // built once: every read checks its file's stamp by path
    const platform::SystemClock* clock = nullptr;  // set: reads check stamps once per interval
    double interval = 0;

    Impl(platform::FileStore& f, const platform::CodePage& c, std::u16string p)
        : files(f), cp(c), appPath(std::move(p)), paths{appPath + u"set.ini", appPath + u"ie.ini"} {}

    const std::u16string& path(IniFile file) const { return paths[static_cast<int>(file)]; }

    // Whether the cached document of `c` may be used without looking at the
    // stamp: a clock is set and its stamp was checked within the interval.
    bool recentlyChecked(const CachedFile& c) const {
        if (!clock || !c.checked) return false;
        const double since = clock->secondsSinceMidnight() - c.checkedAt;
        return since >= 0 && since < interval;
    }

    void markChecked(CachedFile& c) {
        c.checked = clock != nullptr;
        if (clock) c.checkedAt = clock->secondsSinceMidnight();
    }

    // The document as it is on disk now: the cached one while the stamp is
    // unchanged, otherwise parsed again. A read (`forWrite` false) trusts
    // the cache without a look at the stamp while recentlyChecked().
    const IniDocument& current(IniFile file, bool forWrite = false) {
        CachedFile& c = cache[static_cast<int>(file)];
        if (cacheEnabled && c.loaded && !forWrite && recentlyChecked(c)) return c.doc;
        const std::u16string& p = path(file);
        const std::optional<platform::FileStamp> now = files.stamp(p);
        markChecked(c);
        if (cacheEnabled && c.loaded && now == c.stamp) return c.doc;
        c.stamp = now;
        c.loaded = true;
        if (!now) {
            c.doc = IniDocument();
            return c.doc;
        }
        const std::optional<std::string> bytes = files.readAll(p);
        // A file that exists but cannot be read is treated as empty for
        // reads; it is not cached, so the next read tries again.
        if (!bytes) {
            c.loaded = false;
            c.doc = IniDocument();
            return c.doc;
        }
        c.doc = IniDocument::parse(cp, *bytes);
        return c.doc;
    }

    // Applies `change` to a copy of the current document and writes it; the
    // cache takes the new document only when the write succeeded.
    template <typename Change>
    bool modify(IniFile file, Change&& change) {
        const IniDocument& now = current(file, true);
        CachedFile& c = cache[static_cast<int>(file)];
        if (!c.loaded) return false;  // the file exists but cannot be read: do not overwrite it
        IniDocument next = now;
        if (!change(next)) return true;  // nothing to change
        const std::u16string& p = path(file);
        if (!files.replaceAll(p, next.serialise(cp))) return false;
        c.doc = std::move(next);
        c.stamp = files.stamp(p);
        markChecked(c);
        return true;
    }
};

SettingsStore::SettingsStore(platform::FileStore& files, const platform::CodePage& codePage, std::u16string appPath)
    : impl_(new Impl(files, codePage, std::move(appPath))) {}

SettingsStore::~SettingsStore() { delete impl_; }

const std::u16string& SettingsStore::appPath() const { return impl_->appPath; }

std::u16string SettingsStore::path(IniFile file) const { return impl_->path(file); }

platform::FileProblem SettingsStore::problem(IniFile file) const {
    const platform::FileProblem p = impl_->files.problem(impl_->path(file));
    return p == platform::FileProblem::Missing ? platform::FileProblem::None : p;
}

std::u16string SettingsFileProblemText(const std::u16string& fileName, platform::FileProblem problem) {
    std::u16string why;
    switch (problem) {
    case platform::FileProblem::NotRegular: why = u"不是一般檔案"; break;
    case platform::FileProblem::TooLarge: why = u"大於 16 MB"; break;
    case platform::FileProblem::Unreadable: why = u"無法開啟"; break;
    case platform::FileProblem::None:
    case platform::FileProblem::Missing: return {};
    }
    return u"設定檔 " + fileName + u" " + why + u"，無法讀取。程式以預設值執行，不會改寫這個檔案。";
}

std::optional<std::u16string> SettingsStore::find(IniFile file, const std::u16string& section,
                                                  const std::u16string& key) {
    const std::u16string* v = impl_->current(file).find(section, key);
    if (!v) return std::nullopt;
    return *v;
}

std::u16string SettingsStore::read(IniFile file, const std::u16string& section, const std::u16string& key,
                                   const std::u16string& defaultValue) {
    const std::u16string* v = impl_->current(file).find(section, key);
    return v ? *v : defaultValue;
}

std::int32_t SettingsStore::readNumber(IniFile file, const std::u16string& section, const std::u16string& key,
                                       std::int32_t defaultValue) {
    const std::u16string* v = impl_->current(file).find(section, key);
    // As on Windows, a key with an empty value yields the default too.
    if (!v || v->empty()) return defaultValue;
    return LeadingNumber(*v);
}

bool SettingsStore::write(IniFile file, const std::u16string& section, const std::u16string& key,
                          const std::optional<std::u16string>& value) {
    if (!value) return deleteKey(file, section, key);
    if (!IniDocument::validSectionName(section) || !IniDocument::validKeyName(key) ||
        !IniDocument::validValue(*value))
        return false;
    return impl_->modify(file, [&](IniDocument& d) {
        const std::u16string* old = d.find(section, key);
        if (old && *old == TrimBlanks(*value)) return false;
        d.set(section, key, *value);
        return true;
    });
}

bool SettingsStore::deleteKey(IniFile file, const std::u16string& section, const std::u16string& key) {
    return impl_->modify(file, [&](IniDocument& d) { return d.erase(section, key); });
}

bool SettingsStore::deleteSection(IniFile file, const std::u16string& section) {
    return impl_->modify(file, [&](IniDocument& d) { return d.eraseSection(section); });
}

std::vector<std::u16string> SettingsStore::listKeys(IniFile file, const std::u16string& section) {
    return impl_->current(file).keys(section);
}

std::vector<std::u16string> SettingsStore::readListSection(IniFile file, const std::u16string& section,
                                                           ListEntryRule rule) {
    std::vector<std::u16string> out;
    const std::u16string header = u"[" + section + u"]";
    bool inside = false;
    for (const std::u16string& line : impl_->current(file).lines()) {
        if (!inside) {
            inside = line == header;
            continue;
        }
        if (line.empty() || line[0] == u'[') break;
        // Lines without "=" are not entries (no keyed read can find them),
        // nor are trust lines too short to hold "=0": they are skipped.
        const std::size_t eq = line.find(u'=');
        if (eq == std::u16string::npos) continue;
        if (rule == ListEntryRule::BeforeEquals) {
            out.push_back(line.substr(0, eq));
        } else {
            if (line.size() < 2) continue;
            out.push_back(line.substr(0, line.size() - 2));
        }
    }
    return out;
}

void SettingsStore::setStampInterval(const platform::SystemClock& clock, double seconds) {
    impl_->clock = &clock;
    impl_->interval = seconds;
}

void SettingsStore::setCacheEnabled(bool enabled) { impl_->cacheEnabled = enabled; }

// ---------------------------------------------------------------------------

std::u16string ReadSetting(SettingsStore& s, const std::u16string& section, const std::u16string& key,
                           const std::u16string& defaultValue) {
    return s.read(IniFile::Set, section, key, defaultValue);
}

std::int32_t ReadSettingNumber(SettingsStore& s, IniFile file, const std::u16string& section,
                               const std::u16string& key, std::int32_t defaultValue) {
    return s.readNumber(file, section, key, defaultValue);
}

bool WriteSetting(SettingsStore& s, IniFile file, const std::u16string& section, const std::u16string& key,
                  const std::u16string& value) {
    return s.write(file, section, key, value);
}

bool DeleteSettingKey(SettingsStore& s, IniFile file, const std::u16string& section, const std::u16string& key) {
    return s.deleteKey(file, section, key);
}

bool DeleteSettingSection(SettingsStore& s, IniFile file, const std::u16string& section) {
    return s.deleteSection(file, section);
}

std::vector<std::u16string> ListSectionKeys(SettingsStore& s, const std::u16string& section) {
    return s.listKeys(IniFile::Set, section);
}

std::vector<std::u16string> ReadListSection(SettingsStore& s, IniFile file, const std::u16string& section,
                                            ListEntryRule rule) {
    return s.readListSection(file, section, rule);
}

}  // namespace iw::settings
