// The list entry dialog's presenter over in-memory set.ini and ie.ini: the
// three modes' captions and start texts, the empty entry, the web-address
// rules with their examples, modify mode, and what the files cannot hold.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/program_state.h"
#include "platform/native.h"
#include "settings/entry_dialog.h"
#include "tests/support/dialog_openers.h"
#include "tests/support/fake_files.h"

namespace iw::settings {
namespace {

struct RecordingView : EntryDialogView {
    std::u16string caption, text;
    bool allSelected = false, focused = false, closed = false;
    std::vector<std::pair<std::u16string, std::u16string>> boxes;  // text, title

    void setCaption(const std::u16string& c) override { caption = c; }
    void setText(const std::u16string& t) override {
        text = t;
        allSelected = false;
    }
    void selectAllText() override { allSelected = true; }
    void focusText() override { focused = true; }
    void messageBox(const std::u16string& t, const std::u16string& title) override { boxes.push_back({t, title}); }
    void close() override { closed = true; }
};

class EntryDialogTest : public ::testing::Test {
protected:
    std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    test::FakeFiles files;
    SettingsStore store{files, *cp, u"C:\\P\\"};
    settings::ProgramState m;
    test::FakeEntryRows rows;
    RecordingView view;
    std::unique_ptr<EntryDialog> dialog;

    void SetUp() override { m.identity.UserSection = u"tester"; }

    EntryDialog& open(int mode, const std::optional<std::u16string>& edit = std::nullopt) {
        view = RecordingView{};
        dialog = std::make_unique<EntryDialog>(store, m, mode, rows, view);
        dialog->load(edit);
        return *dialog;
    }
    // Types `text` and presses 確定.
    void enter(const std::u16string& text) {
        dialog->textChanged(text);
        dialog->confirm();
    }
    std::optional<std::u16string> ie(const std::u16string& key) { return store.find(IniFile::Ie, u"IeUrl", key); }
    std::optional<std::u16string> set(const std::u16string& section, const std::u16string& key) {
        return store.find(IniFile::Set, section, key);
    }
};

TEST_F(EntryDialogTest, CaptionAndStartTextByMode) {
    const struct {
        int mode;
        std::u16string caption, text;
        bool selected;
    } cases[] = {
        {1, u"設定黑名單", u"", false},
        {2, u"設定信任名單", u"", false},
        {3, u"設定網站網址", u"http://", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        open(c.mode);
        EXPECT_EQ(view.caption, c.caption);
        EXPECT_EQ(view.text, c.text);
        EXPECT_EQ(dialog->text(), c.text);
        EXPECT_EQ(view.allSelected, c.selected);
    }
    // Modify mode: the row's text replaces the start text.
    m.dialog.EditMode = true;
    rows.rows = {u"http://a.tw/"};
    rows.selected = 0;
    open(3, u"http://a.tw/");
    EXPECT_EQ(view.text, u"http://a.tw/");
    EXPECT_EQ(dialog->text(), u"http://a.tw/");
}

TEST_F(EntryDialogTest, SenderListsTakeTheTextAsTyped) {
    const struct {
        int mode;
        const char16_t* section;
    } lists[] = {{1, u"tester-BlackList"}, {2, u"tester-TrustList"}};
    for (const auto& l : lists) {
        SCOPED_TRACE(l.mode);
        rows.rows.clear();
        open(l.mode);
        enter(u"Spam@Ads.COM");  // no trimming, no change of case, no test for "@"
        EXPECT_TRUE(view.closed);
        EXPECT_EQ(set(l.section, u"Spam@Ads.COM"), u"0");
        open(l.mode);
        enter(u"no at sign");
        EXPECT_EQ(set(l.section, u"no at sign"), u"0");
        // An address already listed is written again and shows a second row.
        open(l.mode);
        enter(u"Spam@Ads.COM");
        EXPECT_EQ(rows.rows, (std::vector<std::u16string>{u"Spam@Ads.COM", u"no at sign", u"Spam@Ads.COM"}));
        EXPECT_EQ(store.listKeys(IniFile::Set, l.section).size(), 2u);
        EXPECT_FALSE(files.content(u"C:\\P\\ie.ini").has_value());
    }
}

TEST_F(EntryDialogTest, EmptyAndUnstorableEntriesAreRefusedAndKept) {
    const std::u16string unusable = u"不能含有「=」或換行,也不能以「[」或「;」開頭";
    const struct {
        int mode;
        std::u16string text, message;
    } cases[] = {
        {1, u"", u"不能空白"},
        {2, u"", u"不能空白"},
        {1, u"  ", u"不能空白"},
        {1, u"a=b@x", unusable},
        {2, u"[x]@y", unusable},
        {1, u";x@y", unusable},
        {1, u"x@y\r\n[z]", unusable},
        {3, u"http://x.tw/?a=1", unusable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        open(c.mode);
        enter(c.text);
        ASSERT_EQ(view.boxes.size(), 1u);
        EXPECT_EQ(view.boxes[0].first, c.message);
        EXPECT_EQ(view.boxes[0].second, EntryDialogCaption(c.mode));
        EXPECT_TRUE(view.focused);
        EXPECT_FALSE(view.closed);
        EXPECT_EQ(dialog->text(), c.text);
    }
    EXPECT_FALSE(files.content(u"C:\\P\\set.ini").has_value());
    EXPECT_FALSE(files.content(u"C:\\P\\ie.ini").has_value());
    EXPECT_TRUE(rows.rows.empty());
}

TEST_F(EntryDialogTest, WebAddressRules) {
    const struct {
        std::u16string typed;
        std::optional<std::u16string> stored;  // nullopt: "網址不正確"
    } cases[] = {
        {u"www.ads.tw", std::nullopt},                 // a host without a scheme
        {u"", std::nullopt},
        {u"INDEX.HTM", std::nullopt},                   // the last four count letter case
        {u"http://www.ads.tw", u"http://www.ads.tw/"},  // scheme and host: the site root
        {u"ftp://files.tw", u"ftp://files.tw/"},
        {u"HTTP://WWW.ADS.TW", u"HTTP://WWW.ADS.TW/"},
        {u"http://", u"http:///"},                      // the start text alone
        {u"HTTP://ADS.TW/PAGE.htm", u"HTTP://ADS.TW/PAGE.htm"},
        {u"HTTP://ADS.TW/a.HTML", u"HTTP://ADS.TW/a.HTML"},  // "htm" anywhere, either case: as typed
        {u"index.htm", u"index.htm"},                   // a bare file name ending in htm
        {u"x.html", u"x.html"},
        {u"http://ads.tw/dir", u"http://ads.tw/dir"},   // a "/" from the 8th character on
        {u"http://a/", u"http://a/"},
        {u"httpx", u"httpx/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typed.begin(), c.typed.end()));
        EXPECT_EQ(WebAddressAccepted(c.typed), c.stored.has_value());
        rows.rows.clear();
        open(3);
        enter(c.typed);
        if (!c.stored) {
            ASSERT_EQ(view.boxes.size(), 1u);
            EXPECT_EQ(view.boxes[0].first, u"網址不正確");
            EXPECT_EQ(view.boxes[0].second, u"設定網站網址");
            EXPECT_FALSE(view.closed);
            EXPECT_EQ(dialog->text(), c.typed);
            continue;
        }
        EXPECT_TRUE(view.boxes.empty());
        EXPECT_TRUE(view.closed);
        // The box shows what is stored.
        EXPECT_EQ(dialog->text(), *c.stored);
        if (*c.stored != c.typed) {
            EXPECT_EQ(view.text, *c.stored);
        }
        EXPECT_EQ(ie(*c.stored), u"0");
        EXPECT_EQ(rows.rows, (std::vector<std::u16string>{*c.stored}));
    }
    EXPECT_FALSE(files.content(u"C:\\P\\set.ini").has_value());
}

TEST_F(EntryDialogTest, ModifyReplacesTheSelectedEntry) {
    // Black list: the edited entry is stored plain ("0") whatever it was.
    WriteSetting(store, IniFile::Set, u"tester-BlackList", u"a@x.tw", u"0");
    WriteSetting(store, IniFile::Set, u"tester-BlackList", u"b@y.tw", u"1");
    rows.rows = {u"a@x.tw", u"b@y.tw"};
    rows.selected = 1;
    m.dialog.EditMode = true;
    open(1, u"b@y.tw");
    enter(u"c@z.tw");
    EXPECT_TRUE(view.closed);
    EXPECT_FALSE(m.dialog.EditMode);
    EXPECT_EQ(store.listKeys(IniFile::Set, u"tester-BlackList"), (std::vector<std::u16string>{u"a@x.tw", u"c@z.tw"}));
    EXPECT_EQ(set(u"tester-BlackList", u"c@z.tw"), u"0");
    EXPECT_EQ(rows.rows, (std::vector<std::u16string>{u"a@x.tw", u"c@z.tw"}));

    // Web addresses keep their code under the new text; no other row changes.
    const struct {
        std::u16string oldValue, newValue;
    } codes[] = {{u"1", u"1"}, {u"3", u"3"}, {u"0", u"0"}, {u"junk", u"0"}};
    for (const auto& c : codes) {
        SCOPED_TRACE(std::string(c.oldValue.begin(), c.oldValue.end()));
        files.remove(u"C:\\P\\ie.ini");
        WriteSetting(store, IniFile::Ie, u"IeUrl", u"http://keep.tw/", u"1");
        WriteSetting(store, IniFile::Ie, u"IeUrl", u"http://old.tw/", c.oldValue);
        rows.rows = {u"http://keep.tw/", u"http://old.tw/"};
        rows.selected = 1;
        m.dialog.EditMode = true;
        open(3, u"http://old.tw/");
        enter(u"http://new.tw");
        EXPECT_TRUE(view.closed);
        EXPECT_EQ(ie(u"http://new.tw/"), c.newValue);
        EXPECT_FALSE(ie(u"http://old.tw/").has_value());
        EXPECT_EQ(ie(u"http://keep.tw/"), u"1");
        EXPECT_EQ(rows.rows, (std::vector<std::u16string>{u"http://keep.tw/", u"http://new.tw/"}));
    }

    // Only the letter case changes: the entry is not lost to its own delete.
    WriteSetting(store, IniFile::Set, u"tester-TrustList", u"me@x.tw", u"0");
    rows.rows = {u"me@x.tw"};
    rows.selected = 0;
    m.dialog.EditMode = true;
    open(2, u"me@x.tw");
    enter(u"Me@X.tw");
    EXPECT_EQ(store.listKeys(IniFile::Set, u"tester-TrustList"), (std::vector<std::u16string>{u"Me@X.tw"}));
}

TEST_F(EntryDialogTest, CancelAndRefusedWritesLeaveTheListsAlone) {
    WriteSetting(store, IniFile::Set, u"tester-BlackList", u"a@x.tw", u"1");
    const auto before = files.content(u"C:\\P\\set.ini");
    rows.rows = {u"a@x.tw"};
    rows.selected = 0;
    for (int how : {0, 1}) {
        m.dialog.EditMode = true;
        open(1, u"a@x.tw");
        dialog->textChanged(u"b@x.tw");
        if (how == 0) dialog->cancel();
        else dialog->unload();
        dialog->confirm();  // too late: closed
        EXPECT_FALSE(m.dialog.EditMode);
        EXPECT_EQ(files.content(u"C:\\P\\set.ini"), before);
    }
    // The file refuses the write: the old entry stays, the dialog stays open.
    m.dialog.EditMode = true;
    open(1, u"a@x.tw");
    files.setFailWrites(true);
    enter(u"b@x.tw");
    files.setFailWrites(false);
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_NE(view.boxes[0].first.find(u"set.ini"), std::u16string::npos);
    EXPECT_FALSE(view.closed);
    EXPECT_EQ(files.content(u"C:\\P\\set.ini"), before);
    EXPECT_EQ(rows.rows, (std::vector<std::u16string>{u"a@x.tw"}));
    dialog->confirm();
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(store.listKeys(IniFile::Set, u"tester-BlackList"), (std::vector<std::u16string>{u"b@x.tw"}));
}

}  // namespace
}  // namespace iw::settings
