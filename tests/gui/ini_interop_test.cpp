// Our INI module against the system's own private-profile functions: files
// we write read correctly through GetPrivateProfileStringW / IntW, and files
// the system writes read correctly through our store. Under Wine with
// LANG=zh_TW.UTF-8 the system's ANSI page is 950, the page our files use.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/native.h"
#include "settings/settings_store.h"

namespace iw::settings {
namespace {

std::wstring W(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

class IniInterop : public ::testing::Test {
protected:
    std::unique_ptr<platform::FileStore> files = platform::createFileStore();
    std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    std::wstring folder;  // with a trailing backslash
    std::unique_ptr<SettingsStore> store;

    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, tmp), 0u);
        static int n = 0;
        folder = std::wstring(tmp) + L"iw-interop-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++n) + L"\\";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        store = std::make_unique<SettingsStore>(*files, *cp, std::u16string(folder.begin(), folder.end()));
    }
    void TearDown() override {
        DeleteFileW(ini().c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::wstring ini() const { return folder + L"set.ini"; }

    // The system's reads.
    std::wstring sysRead(const wchar_t* section, const wchar_t* key, const wchar_t* dflt = L"<none>") {
        std::vector<wchar_t> buf(4096);
        GetPrivateProfileStringW(section, key, dflt, buf.data(), static_cast<DWORD>(buf.size()), ini().c_str());
        return buf.data();
    }
    std::vector<std::wstring> sysKeys(const wchar_t* section) {
        std::vector<wchar_t> buf(4096);
        DWORD n = GetPrivateProfileStringW(section, nullptr, L"", buf.data(), static_cast<DWORD>(buf.size()),
                                           ini().c_str());
        std::vector<std::wstring> out;
        for (DWORD i = 0; i < n;) {
            std::wstring k(buf.data() + i);
            if (k.empty()) break;
            i += static_cast<DWORD>(k.size()) + 1;
            out.push_back(k);
        }
        return out;
    }
    std::vector<std::wstring> sysSections() {
        std::vector<wchar_t> buf(4096);
        DWORD n = GetPrivateProfileSectionNamesW(buf.data(), static_cast<DWORD>(buf.size()), ini().c_str());
        std::vector<std::wstring> out;
        for (DWORD i = 0; i < n;) {
            std::wstring k(buf.data() + i);
            if (k.empty()) break;
            i += static_cast<DWORD>(k.size()) + 1;
            out.push_back(k);
        }
        return out;
    }
    void sysWrite(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
        ASSERT_TRUE(WritePrivateProfileStringW(section, key, value, ini().c_str()));
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini().c_str());  // flush the system's cache
    }
    std::vector<std::wstring> ourKeys(const std::u16string& section) {
        std::vector<std::wstring> out;
        for (const auto& k : store->listKeys(IniFile::Set, section)) out.push_back(W(k));
        return out;
    }
    std::vector<std::wstring> ourSectionsInFileOrder() {
        // Our store has no section list; the file's header lines show the order.
        std::vector<std::wstring> out;
        const std::string bytes = files->readAll(store->path(IniFile::Set)).value_or("");
        const std::u16string text = cp->toUtf16(950, bytes);
        std::size_t pos = 0;
        while ((pos = text.find(u'[', pos)) != std::u16string::npos) {
            const std::size_t end = text.find(u']', pos);
            if (end == std::u16string::npos) break;
            out.push_back(W(text.substr(pos + 1, end - pos - 1)));
            pos = end;
        }
        return out;
    }
};

// One table of operations, each done once by our store and once by the
// system, each side then checked by the other side's reads.
struct Op {
    enum Kind { Write, DeleteKey, DeleteSection } kind;
    std::u16string section, key, value;
};

struct Case {
    const char* name;
    std::vector<Op> ops;
    // Checks, in terms of what both sides must agree on.
    std::u16string section, key;
    std::u16string expectValue;  // u"<none>" when missing
    std::vector<std::u16string> expectKeys;
    std::vector<std::u16string> expectSections;
    int expectNumber;  // with default 99
};

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"case-insensitive names",
         {{Op::Write, u"Prefs", u"Option", u"0101"}, {Op::Write, u"PREFS", u"option", u"1111"}},
         u"pReFs", u"OPTION", u"1111", {u"Option"}, {u"Prefs"}, 1111},
        {"replace in place",
         {{Op::Write, u"S", u"k", u"1"}, {Op::Write, u"S", u"j", u"2"}, {Op::Write, u"S", u"k", u"3"}},
         u"S", u"k", u"3", {u"k", u"j"}, {u"S"}, 3},
        {"new key at the end of its section",
         {{Op::Write, u"A", u"x", u"1"}, {Op::Write, u"B", u"y", u"2"}, {Op::Write, u"A", u"z", u"3"}},
         u"A", u"z", u"3", {u"x", u"z"}, {u"A", u"B"}, 3},
        {"new section at the end of the file",
         {{Op::Write, u"B", u"y", u"2"}, {Op::Write, u"A", u"x", u"1"}, {Op::Write, u"C", u"z", u"3"}},
         u"C", u"z", u"3", {u"z"}, {u"B", u"A", u"C"}, 3},
        {"key deletion",
         {{Op::Write, u"S", u"k", u"1"}, {Op::Write, u"S", u"j", u"2"}, {Op::DeleteKey, u"s", u"K", u""}},
         u"S", u"k", u"<none>", {u"j"}, {u"S"}, 99},
        {"section deletion",
         {{Op::Write, u"A", u"x", u"1"}, {Op::Write, u"B", u"y", u"2"}, {Op::DeleteSection, u"a", u"", u""}},
         u"A", u"x", u"<none>", {}, {u"B"}, 99},
        {"key order",
         {{Op::Write, u"S", u"c", u"0"}, {Op::Write, u"S", u"a", u"0"}, {Op::Write, u"S", u"b", u"0"},
          {Op::DeleteKey, u"S", u"c", u""}, {Op::Write, u"S", u"c", u"0"}},
         u"S", u"a", u"0", {u"a", u"b", u"c"}, {u"S"}, 0},
        // The system reads a key with an empty value as the caller's default number.
        {"empty value", {{Op::Write, u"U", u"k", u""}}, u"U", u"k", u"", {u"k"}, {u"U"}, 99},
        {"minus one", {{Op::Write, u"U", u"Max", u"-1"}}, u"U", u"Max", u"-1", {u"Max"}, {u"U"}, -1},
        {"leading number", {{Op::Write, u"U", u"Size", u"12abc"}}, u"U", u"Size", u"12abc", {u"Size"}, {u"U"}, 12},
        {"Big5 names and value",
         {{Op::Write, u"使用者", u"信箱", u"中文郵件"}}, u"使用者", u"信箱", u"中文郵件", {u"信箱"}, {u"使用者"}, 0},
    };
    return table;
}

std::vector<std::wstring> Ws(const std::vector<std::u16string>& v) {
    std::vector<std::wstring> out;
    for (const auto& s : v) out.push_back(W(s));
    return out;
}

TEST_F(IniInterop, OurFilesReadBySystem) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        DeleteFileW(ini().c_str());
        for (const Op& op : c.ops) {
            bool ok = false;
            switch (op.kind) {
            case Op::Write: ok = store->write(IniFile::Set, op.section, op.key, op.value); break;
            case Op::DeleteKey: ok = store->deleteKey(IniFile::Set, op.section, op.key); break;
            case Op::DeleteSection: ok = store->deleteSection(IniFile::Set, op.section); break;
            }
            ASSERT_TRUE(ok);
        }
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini().c_str());  // drop the system's cache
        EXPECT_EQ(sysRead(W(c.section).c_str(), W(c.key).c_str()), W(c.expectValue));
        EXPECT_EQ(sysKeys(W(c.section).c_str()), Ws(c.expectKeys));
        EXPECT_EQ(sysSections(), Ws(c.expectSections));
        EXPECT_EQ(static_cast<int>(GetPrivateProfileIntW(W(c.section).c_str(), W(c.key).c_str(), 99, ini().c_str())),
                  c.expectNumber);
    }
}

TEST_F(IniInterop, SystemFilesReadByUs) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        DeleteFileW(ini().c_str());
        for (const Op& op : c.ops) {
            const std::wstring s = W(op.section), k = W(op.key), v = W(op.value);
            switch (op.kind) {
            case Op::Write: sysWrite(s.c_str(), k.c_str(), v.c_str()); break;
            case Op::DeleteKey: sysWrite(s.c_str(), k.c_str(), nullptr); break;
            case Op::DeleteSection: sysWrite(s.c_str(), nullptr, nullptr); break;
            }
        }
        EXPECT_EQ(store->read(IniFile::Set, c.section, c.key, u"<none>"), c.expectValue);
        EXPECT_EQ(ourKeys(c.section), Ws(c.expectKeys));
        EXPECT_EQ(ourSectionsInFileOrder(), Ws(c.expectSections));
        EXPECT_EQ(store->readNumber(IniFile::Set, c.section, c.key, 99), c.expectNumber);
    }
}

}  // namespace
}  // namespace iw::settings
