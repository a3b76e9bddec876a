// The browser window watcher; see watcher.h.
#include "browser/watcher.h"

namespace iw::browser {

namespace {

char16_t lowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool startsWithLower(const std::u16string& text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lowerAscii(text[i]) != prefix[i]) return false;
    return true;
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x3000; }

// Where the search for the "/" that ends the host starts: just after "://"
// when the address begins with a scheme ("http://", "https://", "ftp://"),
// otherwise at the eighth character. Counting from the eighth character alone
// would stop at the second "/" of "https://" and give every secure site the
// one key "https://".
std::size_t hostSearchStart(const std::u16string& a) {
    const std::size_t sep = a.find(u"://");
    if (sep != std::u16string::npos && sep > 0 && sep <= 16) {
        bool scheme = true;
        for (std::size_t i = 0; i < sep; ++i) {
            const char16_t c = lowerAscii(a[i]);
            scheme = scheme && ((c >= u'a' && c <= u'z') || (i > 0 && ((c >= u'0' && c <= u'9') || c == u'+' ||
                                                                       c == u'-' || c == u'.')));
        }
        if (scheme) return sep + 3;
    }
    return 7;
}

}  // namespace

bool IsAddressText(const std::u16string& text) {
    if (startsWithLower(text, u"http") || startsWithLower(text, u"ftp")) return true;
    const std::size_t from = text.size() > 4 ? text.size() - 4 : 0;
    return text.find(u"htm", from) != std::u16string::npos;
}

bool IsBlankPageText(const std::u16string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    const std::u16string_view blank = kBlankPageKey;
    if (e - b != blank.size()) return false;
    for (std::size_t i = 0; i < blank.size(); ++i)
        if (lowerAscii(text[b + i]) != blank[i]) return false;
    return true;
}

AddressKeys KeysOf(const std::u16string& address) {
    AddressKeys k;
    const std::size_t q = address.find(u'?');
    k.page = q == std::u16string::npos ? address : address.substr(0, q);
    if (k.page.size() >= 3 && k.page[2] == u'\\') {
        k.site = k.page;
        return k;
    }
    const std::size_t start = hostSearchStart(k.page);
    const std::size_t slash = start < k.page.size() ? k.page.find(u'/', start) : std::u16string::npos;
    if (slash != std::u16string::npos) {
        k.site = k.page.substr(0, slash + 1);
    } else {
        k.page += u'/';
        k.site = k.page;
    }
    return k;
}

bool StorableKey(const platform::CodePage& codePage, const std::u16string& key) {
    if (key.empty() || key.size() > kMaxStoredKeyLength) return false;
    if (isBlank(key.front()) || isBlank(key.back()) || key.front() == u'[' || key.front() == u';') return false;
    for (const char16_t c : key)
        if (c == u'=' || c < 0x20 || c == 0x7F) return false;
    return codePage.toUtf16(platform::kBig5, codePage.fromUtf16(platform::kBig5, key)) == key;
}

BrowserWatcher::BrowserWatcher(platform::Desktop& desktop, settings::SettingsStore& store,
                               const platform::CodePage& codePage, const settings::ProgramState& state)
    : desktop_(desktop), store_(store), codePage_(codePage), state_(state) {}

double BrowserWatcher::popupRatio() const {
    // The settings dialog stores 0 to 100 percent; a hand-edited file may
    // hold anything. Above 1 nearly every frame would count as a pop-up and
    // be closed, so a ratio outside 0..1 is taken as the default.
    const double r = state_.prefs.PopupRatio;
    return (r >= 0 && r <= 1) ? r : kDefaultPopupRatio;
}

bool BrowserWatcher::smallerThanPopupLimit(const platform::WindowRect& r) const {
    const platform::WindowRect screen = desktop_.screen();
    const double ratio = popupRatio();
    return r.width() < ratio * screen.width() && r.height() < ratio * screen.height();
}

bool BrowserWatcher::ReadAddressBarProc(platform::WindowHandle child) {
    if (desktop_.className(child) != kAddressBoxClass) return true;
    if (boxesRead_ >= kMaxAddressBoxesRead) return false;
    ++boxesRead_;
    const std::optional<std::u16string> text = desktop_.controlText(child);
    if (!text) return false;
    if (IsAddressText(*text)) {
        found_ = *text;
        foundBlank_ = false;
        return false;
    }
    if (IsBlankPageText(*text)) {
        found_ = kBlankPageKey;
        foundBlank_ = true;
        return false;
    }
    return true;
}

int BrowserWatcher::readAddress(platform::WindowHandle frame) {
    found_.clear();
    foundBlank_ = false;
    boxesRead_ = 0;
    const std::vector<platform::WindowHandle> children = desktop_.childWindows(frame);
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (!ReadAddressBarProc(*it)) break;
    if (found_.empty()) return kUrlAllowed;
    if (foundBlank_) {
        // A blank page is no site: nothing is recorded for it.
        currentUrlKey_ = kBlankPageKey;
        return kUrlAllowed;
    }

    const AddressKeys keys = KeysOf(found_);
    using settings::IniFile;
    const int site = store_.readNumber(IniFile::Ie, kUrlSection, keys.site, kUrlNotSeen);
    if (site == kUrlNotSeen) {
        if (StorableKey(codePage_, keys.site)) store_.write(IniFile::Ie, kUrlSection, keys.site, u"0");
        currentUrlKey_ = keys.site;
        return kUrlAllowed;
    }
    if (site == kUrlPerPage) {
        int page = store_.readNumber(IniFile::Ie, kUrlSection, keys.page, kUrlNotSeen);
        if (page == kUrlNotSeen) {
            if (StorableKey(codePage_, keys.page)) store_.write(IniFile::Ie, kUrlSection, keys.page, u"0");
            page = kUrlAllowed;
        }
        currentUrlKey_ = keys.page;
        return page;
    }
    currentUrlKey_ = keys.site;
    return site;
}

void BrowserWatcher::WatchBrowserWindows(bool popChecked, bool maxChecked) {
    platform::WindowHandle closed = 0;
    const platform::WindowHandle frame = desktop_.findTopLevel(kFrameClass);
    if (frame != 0) {
        bool mayClose = true;
        if (state_.prefs.options.webAddressFilter) {
            currentUrlKey_.clear();
            const int value = readAddress(frame);
            if (!currentUrlKey_.empty()) {
                const bool blank = currentUrlKey_ == kBlankPageKey;
                if (value == kUrlBlocked || (blank && popChecked && state_.prefs.options.closeBlankPages)) {
                    desktop_.postClose(frame);
                    closed = frame;
                    mayClose = false;
                }
            }
        }
        if (popChecked && mayClose && !desktop_.isMinimized(frame) && smallerThanPopupLimit(desktop_.rect(frame))) {
            desktop_.postClose(frame);
            closed = frame;
        }
    }

    if (maxChecked) {
        const platform::WindowHandle fg = desktop_.foreground();
        platform::WindowHandle target = 0;
        if (fg != 0) {
            for (const char16_t* cls : {kFrameClass, kFolderClass, kMailReaderClass, kMailNoteClass}) {
                if (desktop_.findTopLevel(cls) == fg) {
                    target = fg;
                    break;
                }
            }
        }
        // A frame asked to close this tick is not maximised on its way out.
        if (target != 0 && target != closed && !desktop_.isMinimized(target) &&
            !smallerThanPopupLimit(desktop_.rect(target)) && !desktop_.isMaximized(target))
            desktop_.postSystemCommand(target, platform::SystemCommand::Maximize);
    }
}

}  // namespace iw::browser
