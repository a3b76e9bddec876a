// The settings dialog's presenter on the fake loop, files and registry: the
// load order and the companions, save and discard, the first run, the
// account page, the list menu and its visibility rules, the domain switch,
// the web-address list with its lock, and the slider caption.
#include <gtest/gtest.h>

#include "settings/accounts.h"
#include "settings/mailset.h"
#include "settings/registry_values.h"
#include "tests/support/fake_mailset.h"
#include "tests/support/tray_rig.h"

namespace iw::settings {
namespace {

using platform::RegistryRoot;
using test::FakeMailsetView;
using test::FakeModalDialogs;
using L = MailsetList;

class MailsetTest : public ::testing::Test {
protected:
    test::TrayRig rig;
    FakeMailsetView view;
    FakeModalDialogs dialogs;
    std::unique_ptr<MailsetPresenter> set;
    int masterLoads = 0, programEnds = 0;
    std::vector<std::u16string> removedAccounts;  // what the hook was told

    MailsetTest() {
        rig.state.identity.AppPath = u"C:\\Prog\\";
        rig.desktop.setScreen({0, 0, 1024, 768});
    }
    void load() {
        rig.state.prefs.options = settings::ReadOptions(rig.store, u"tester");
        MailsetHooks hooks;
        hooks.loadMaster = [this] { ++masterLoads; };
        hooks.endProgram = [this] { ++programEnds; };
        hooks.accountRemoved = [this](const std::u16string& a) { removedAccounts.push_back(a); };
        set = std::make_unique<MailsetPresenter>(rig.platform, rig.store, rig.state, view, dialogs, hooks);
        set->load();
    }
    std::optional<std::u16string> ini(IniFile f, const std::u16string& section, const std::u16string& key) {
        return rig.store.find(f, section, key);
    }
    void put(IniFile f, const std::u16string& section, const std::u16string& key, const std::u16string& v) {
        rig.store.write(f, section, key, v);
    }
    void select(L l, std::initializer_list<int> rows) {
        for (int r : rows) set->RowSelected(l, r, true);
    }
    std::vector<std::u16string> texts(L l) {
        std::vector<std::u16string> r;
        for (const auto& row : set->rows(l)) r.push_back(row.text);
        EXPECT_EQ(view.rows[l], set->rows(l)) << "view mirrors the model";
        return r;
    }
};

// ---------------------------------------------------------------------------
// Load order and companions.

TEST_F(MailsetTest, DefaultsWithoutSetIni) {
    load();
    // "011011000100": boxes 1, 2, 4, 5, 9 checked.
    const bool checked[12] = {false, true, true, false, true, true, false, false, false, true, false, false};
    for (int k = 0; k < 12; ++k) {
        EXPECT_EQ(set->option(k), checked[k]) << k;
        EXPECT_EQ(view.options[k], checked[k]) << k;
    }
    EXPECT_TRUE(set->enabled(MailsetControl::Combo1));
    EXPECT_TRUE(set->enabled(MailsetControl::Combo2));
    EXPECT_TRUE(set->enabled(MailsetControl::Text1));
    EXPECT_TRUE(set->enabled(MailsetControl::VScroll1));
    EXPECT_FALSE(set->enabled(MailsetControl::Combo3));
    EXPECT_FALSE(view.enabled[MailsetControl::Combo3]);
    EXPECT_FALSE(set->optionEnabled(9)) << "box 9 waits for box 8";
    EXPECT_FALSE(view.optionEnabled[9]);
    EXPECT_TRUE(view.optionEnabled[8]);

    EXPECT_EQ(view.comboItems[MailsetCombo::Combo1].front(), u"3");
    EXPECT_EQ(view.comboItems[MailsetCombo::Combo1].size(), 10u);
    EXPECT_EQ(view.comboItems[MailsetCombo::Combo2].back(), u"30");
    EXPECT_EQ(view.comboItems[MailsetCombo::Combo3].size(), 4u);
    for (auto c : {MailsetCombo::Combo1, MailsetCombo::Combo2, MailsetCombo::Combo3})
        EXPECT_EQ(view.comboSelection[c], 0);
    EXPECT_EQ(view.slider, 75);
    EXPECT_EQ(view.sliderTip, u"75%");
    EXPECT_EQ(view.frameCaption, u"廣告視窗小於( 768 X 576 )");
    EXPECT_EQ(view.sizeText, u"100");
    EXPECT_EQ(view.scroll, 1948);
    EXPECT_FALSE(view.unlockVisible);
    EXPECT_TRUE(view.rows[L::Accounts].empty());
}

TEST_F(MailsetTest, StoredPreferencesAndHandEditedValues) {
    struct Case {
        const char16_t* check;
        const char16_t* value;
        const char16_t* server;
        const char16_t* adpop;
        const char16_t* size;
        int wantCheck, wantValue, wantServer, wantSlider;
        const char16_t* wantSize;
        int wantScroll;
    } cases[] = {
        {u"9", u"5", u"3", u"60", u"2047", 9, 5, 3, 60, u"2047", 1},
        {u"10", u"-1", u"4", u"250", u"5000", 0, 0, 0, 100, u"5000", 1},  // outside the lists: first entry
        {u"2abc", u"x", u"1", u"-5", u"0", 2, 0, 1, 0, u"0", 2048},
        {u"4", u"2", u"2", u"33", u"12kb", 4, 2, 2, 33, u"12", 2036},
    };
    for (const Case& c : cases) {
        put(IniFile::Set, u"tester", u"Check", c.check);
        put(IniFile::Set, u"tester", u"Value", c.value);
        put(IniFile::Set, u"tester", u"TimeServer", c.server);
        put(IniFile::Set, u"tester", u"AD-PoP", c.adpop);
        put(IniFile::Set, u"tester", u"Size", c.size);
        load();
        SCOPED_TRACE(std::string(c.check, c.check + std::char_traits<char16_t>::length(c.check)));
        EXPECT_EQ(view.comboSelection[MailsetCombo::Combo1], c.wantCheck);
        EXPECT_EQ(view.comboSelection[MailsetCombo::Combo2], c.wantValue);
        EXPECT_EQ(view.comboSelection[MailsetCombo::Combo3], c.wantServer);
        EXPECT_EQ(view.slider, c.wantSlider);
        EXPECT_EQ(view.sizeText, c.wantSize);
        EXPECT_EQ(view.scroll, c.wantScroll);
    }
}

TEST_F(MailsetTest, OptionClicksSwitchTheirCompanions) {
    load();
    struct Case {
        int k;
        bool checked;
        std::vector<MailsetControl> controls;
        int optionCompanion;  // -1: none
    } cases[] = {
        {1, false, {MailsetControl::Combo1}, -1},
        {2, false, {MailsetControl::Combo2}, -1},
        {4, false, {MailsetControl::Text1, MailsetControl::VScroll1}, -1},
        {7, true, {MailsetControl::Combo3}, -1},
        {8, true, {}, 9},
    };
    for (const Case& c : cases) {
        set->optionClicked(c.k, c.checked);
        for (auto ctl : c.controls) {
            EXPECT_EQ(set->enabled(ctl), c.checked) << c.k;
            EXPECT_EQ(view.enabled[ctl], c.checked) << c.k;
        }
        if (c.optionCompanion >= 0) {
            EXPECT_EQ(view.optionEnabled[c.optionCompanion], c.checked);
        }
        set->optionClicked(c.k, !c.checked);
        for (auto ctl : c.controls) EXPECT_EQ(view.enabled[ctl], !c.checked) << c.k;
    }
}

TEST_F(MailsetTest, ScrollBarAndSizeField) {
    load();
    set->sizeScrolled(1947);  // one step up from 1948
    EXPECT_EQ(view.sizeText, u"101");
    set->sizeScrolled(1);
    EXPECT_EQ(view.sizeText, u"2047");
    set->sizeScrolled(2048);
    EXPECT_EQ(view.sizeText, u"0");
    // Typing keeps the text as typed and moves the bar to match.
    set->sizeTextChanged(u" 300 KB");
    EXPECT_EQ(set->sizeText(), u" 300 KB");
    EXPECT_EQ(view.scroll, 1748);
}

TEST_F(MailsetTest, SliderCaptionInShortestDecimalForm) {
    load();
    struct Case {
        int w, h, p;
        const char16_t* caption;
    } cases[] = {
        {1024, 768, 60, u"廣告視窗小於( 614.4 X 460.8 )"},
        {1024, 768, 75, u"廣告視窗小於( 768 X 576 )"},
        {1024, 768, 0, u"廣告視窗小於( 0 X 0 )"},
        {1920, 1080, 33, u"廣告視窗小於( 633.6 X 356.4 )"},
        {1366, 768, 7, u"廣告視窗小於( 95.62 X 53.76 )"},
    };
    for (const Case& c : cases) {
        rig.desktop.setScreen({0, 0, c.w, c.h});
        set->popupSizeChanged(c.p);
        EXPECT_EQ(view.frameCaption, c.caption) << c.p;
        EXPECT_EQ(view.sliderTip, std::u16string(ShortestDecimal(c.p)) + u"%");
    }
}

// ---------------------------------------------------------------------------
// Save and discard.

TEST_F(MailsetTest, SaveWritesPreferencesAndProgramValues) {
    load();
    set->choiceSelected(MailsetCombo::Combo1, 3);
    set->choiceSelected(MailsetCombo::Combo2, 5);
    set->optionClicked(7, true);
    set->choiceSelected(MailsetCombo::Combo3, 2);
    set->optionClicked(4, false);  // the field is disabled but still saved
    set->sizeTextChanged(u"0250");
    set->popupSizeChanged(60);
    set->save();

    EXPECT_EQ(ini(IniFile::Set, u"tester", u"Check"), u"3");
    EXPECT_EQ(ini(IniFile::Set, u"tester", u"Value"), u"5");
    EXPECT_EQ(ini(IniFile::Set, u"tester", u"TimeServer"), u"2");
    EXPECT_EQ(ini(IniFile::Set, u"tester", u"Option"), u"011001010100");
    EXPECT_EQ(ini(IniFile::Set, u"tester", u"Size"), u"0250") << "as typed";
    EXPECT_EQ(ini(IniFile::Set, u"tester", u"AD-PoP"), u"60");
    EXPECT_EQ(rig.state.prefs.CheckIntervalMinutes, 15);
    EXPECT_EQ(rig.state.prefs.OpenThreshold, 30);
    EXPECT_DOUBLE_EQ(rig.state.prefs.PopupRatio, 0.6);
    EXPECT_EQ(rig.state.prefs.options.toStored(), u"011001010100");
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(masterLoads, 0) << "not a first run";
    EXPECT_FALSE(RegistryValues(rig.registry).ReadFirstRunNumber());
}

TEST_F(MailsetTest, StartAtLogonWrittenAndRemoved) {
    for (bool refuseMachine : {false, true}) {
        SCOPED_TRACE(refuseMachine);
        rig.registry.setRefuseLocalMachineWrites(refuseMachine);
        const RegistryRoot root = refuseMachine ? RegistryRoot::CurrentUser : RegistryRoot::LocalMachine;
        load();
        set->optionClicked(0, true);
        set->save();
        EXPECT_EQ(rig.registry.readString(root, kRunKey, u"Inkwarden"), u"C:\\Prog\\Inkwarden.exe");
        view = FakeMailsetView{};
        load();
        EXPECT_TRUE(set->option(0));
        set->optionClicked(0, false);
        set->save();
        EXPECT_FALSE(RegistryValues(rig.registry).RunAtLogon());
    }
}

TEST_F(MailsetTest, DiscardWritesNothingButListEditsStay) {
    put(IniFile::Ie, u"IeUrl", u"http://a.tw/", u"0");
    load();
    const auto before = rig.files.content(u"/prog/set.ini");
    set->optionClicked(3, true);
    set->popupSizeChanged(10);
    set->modifyAccount();  // nothing selected: nothing happens
    set->webEntryChecked(0, true);
    set->discard();
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(rig.files.content(u"/prog/set.ini"), before);
    EXPECT_EQ(ini(IniFile::Ie, u"IeUrl", u"http://a.tw/"), u"1") << "ticks are written at once";
    EXPECT_EQ(rig.state.prefs.options.toStored(), u"011011000100");
    EXPECT_EQ(programEnds, 0);
    // A closed dialog takes no more clicks.
    set->save();
    EXPECT_FALSE(ini(IniFile::Set, u"tester", u"Option"));
}

TEST_F(MailsetTest, FirstRunSaveWritesMarkerAndLoadsMaster) {
    for (bool refuseMachine : {false, true}) {
        SCOPED_TRACE(refuseMachine);
        test::FakeRegistry fresh;
        rig.registry = fresh;
        rig.registry.setRefuseLocalMachineWrites(refuseMachine);
        masterLoads = 0;
        rig.state.identity.FirstRun = true;
        load();
        set->save();
        EXPECT_EQ(RegistryValues(rig.registry).ReadFirstRunNumber(), 1u);
        EXPECT_EQ(masterLoads, 1);
        EXPECT_FALSE(rig.state.identity.FirstRun);
        EXPECT_EQ(programEnds, 0);
        // Opened again from the tray: its save loads no second main window.
        load();
        set->save();
        EXPECT_EQ(masterLoads, 1);
    }
}

TEST_F(MailsetTest, FirstRunDiscardOrCloseBoxEndsTheProgram) {
    for (int way = 0; way < 2; ++way) {
        programEnds = 0;
        rig.state.identity.FirstRun = true;
        load();
        if (way == 0) set->discard();
        else set->closeRequested();
        EXPECT_EQ(programEnds, 1);
        EXPECT_EQ(masterLoads, 0);
        EXPECT_EQ(RegistryValues(rig.registry).ReadFirstRunNumber(), 0u);
        EXPECT_TRUE(rig.state.identity.FirstRun) << "the next start is a first run again";
    }
}

TEST_F(MailsetTest, PasswordButtonOpensLoginPass) {
    load();
    set->openSettingsPassword();
    EXPECT_EQ(dialogs.loginPassCalls, 1);
}

// ---------------------------------------------------------------------------
// The account page.

TEST_F(MailsetTest, AccountListAddModifyRemove) {
    rig.addAccount(u"a@x.tw", u"a", u"pa", u"pop.x.tw");
    rig.addAccount(u"b@y.tw", u"bee", u"pb", u"pop.y.tw");
    load();
    ASSERT_EQ(view.rows[L::Accounts].size(), 2u);
    EXPECT_EQ(view.rows[L::Accounts][1], (MailsetRow{u"bee", u"b@y.tw"}));

    // Nothing selected: modify and remove do nothing.
    set->modifyAccount();
    set->removeAccount();
    EXPECT_TRUE(dialogs.accountCalls.empty());
    EXPECT_EQ(set->rows(L::Accounts).size(), 2u);

    // Add: EditMode off, the dialog adds a row through the opener.
    rig.state.dialog.EditMode = true;
    dialogs.onAccount = [&](AccountRowsOpener& o, const std::u16string&) {
        EXPECT_FALSE(rig.state.dialog.EditMode);
        o.addRow(u"c", u"c@z.tw");
    };
    set->addAccount();
    EXPECT_EQ(dialogs.accountCalls.back(), u"");
    EXPECT_EQ(texts(L::Accounts), (std::vector<std::u16string>{u"a", u"bee", u"c"}));

    // Modify the second row: EditMode on, its address given, the row's address changes.
    select(L::Accounts, {1});
    dialogs.onAccount = [&](AccountRowsOpener& o, const std::u16string&) {
        EXPECT_TRUE(rig.state.dialog.EditMode);
        EXPECT_EQ(o.selectedRow(), 1);
        EXPECT_EQ(o.rowAddress(1), u"b@y.tw");
        o.setRowAddress(o.selectedRow(), u"bee@new.tw");
    };
    set->modifyAccount();
    EXPECT_EQ(dialogs.accountCalls.back(), u"b@y.tw");
    EXPECT_EQ(view.rows[L::Accounts][1], (MailsetRow{u"bee", u"bee@new.tw"}));

    // Remove the first: roster key and section go, the row goes, the lists stay.
    put(IniFile::Set, u"tester-BlackList", u"s@s.tw", u"0");
    set->RowSelected(L::Accounts, 1, false);
    select(L::Accounts, {0});
    set->removeAccount();
    EXPECT_FALSE(ini(IniFile::Set, u"tester-Mail", u"a@x.tw"));
    EXPECT_FALSE(ini(IniFile::Set, u"a@x.tw", u"Account"));
    EXPECT_TRUE(ini(IniFile::Set, u"b@y.tw", u"Account"));
    EXPECT_TRUE(ini(IniFile::Set, u"tester-BlackList", u"s@s.tw"));
    EXPECT_EQ(texts(L::Accounts), (std::vector<std::u16string>{u"bee", u"c"}));
    EXPECT_EQ(set->selectedRow(L::Accounts), -1);
    EXPECT_EQ(removedAccounts, (std::vector<std::u16string>{u"a@x.tw"}));  // its tokens go with it
}

// A set.ini that cannot be written keeps the account: its row stays, the
// user is told, and nothing that belongs to it (its tokens) is let go.
TEST_F(MailsetTest, RemovingAnAccountThatCannotBeWrittenKeepsIt) {
    rig.addAccount(u"a@x.tw", u"a", u"pa", u"pop.x.tw");
    load();
    select(L::Accounts, {0});
    rig.files.setFailWrites(true);
    set->removeAccount();
    EXPECT_EQ(texts(L::Accounts), (std::vector<std::u16string>{u"a"}));
    ASSERT_FALSE(view.messages.empty());
    EXPECT_EQ(view.messages.back().first, u"無法寫入設定檔 set.ini,帳號沒有刪除。");
    EXPECT_TRUE(removedAccounts.empty());
    rig.files.setFailWrites(false);
    EXPECT_TRUE(ini(IniFile::Set, u"tester-Mail", u"a@x.tw"));
}

// ---------------------------------------------------------------------------
// The black and trust lists.

TEST_F(MailsetTest, ListsFilledSortedAndColoured) {
    rig.files.put(u"/prog/set.ini",
                  "[tester-BlackList]\r\nzed@z.tw=0\r\nAmy@a.tw=1\r\nbob@b.tw=0\r\n"
                  "[tester-TrustList]\r\nfriend@f.tw=0\r\nboss@f.tw=0\r\n");
    load();
    EXPECT_EQ(texts(L::Black), (std::vector<std::u16string>{u"Amy@a.tw", u"bob@b.tw", u"zed@z.tw"}));
    EXPECT_TRUE(set->rows(L::Black)[0].red);
    EXPECT_FALSE(set->rows(L::Black)[1].red);
    EXPECT_EQ(texts(L::Trust), (std::vector<std::u16string>{u"friend@f.tw", u"boss@f.tw"})) << "file order";
}

TEST_F(MailsetTest, ListMenuVisibility) {
    put(IniFile::Set, u"tester-BlackList", u"on@d.tw", u"1");
    put(IniFile::Set, u"tester-BlackList", u"off@d.tw", u"0");
    put(IniFile::Ie, u"IeUrl", u"http://page.tw/", u"3");
    put(IniFile::Ie, u"IeUrl", u"http://site.tw/", u"1");
    load();
    // Rows after sorting: off@d.tw, on@d.tw.
    set->blackListMouseDown(MouseButton::Left);
    EXPECT_EQ(rig.state.dialog.ListMode, 1);
    EXPECT_TRUE(view.menus.empty()) << "only the right button pops it up";

    struct Case {
        L list;
        int row;
        int mode;
        ListMenuState menu;
    } cases[] = {
        {L::Black, 1, 1, {true, true, false, false, false}},
        {L::Black, 0, 1, {true, false, false, false, false}},
        {L::Trust, -1, 2, {false, false, false, false, false}},
        {L::Web, 0, 3, {false, false, true, true, true}},
        {L::Web, 1, 3, {false, false, true, true, false}},
    };
    for (const Case& c : cases) {
        for (L l : {L::Black, L::Trust, L::Web})
            for (int r = 0; r < static_cast<int>(set->rows(l).size()); ++r) set->RowSelected(l, r, false);
        if (c.row >= 0) select(c.list, {c.row});
        if (c.list == L::Black) set->blackListMouseDown(MouseButton::Right);
        if (c.list == L::Trust) set->trustListMouseDown(MouseButton::Right);
        if (c.list == L::Web) set->webListMouseUp(MouseButton::Right);
        EXPECT_EQ(rig.state.dialog.ListMode, c.mode);
        ASSERT_FALSE(view.menus.empty());
        EXPECT_EQ(view.menus.back(), c.menu) << c.mode << " row " << c.row;
    }
}

TEST_F(MailsetTest, ListMenuOnEmptyListsHidesRowItems) {
    load();
    set->blackListMouseDown(MouseButton::Right);
    EXPECT_EQ(view.menus.back(), ListMenuState{});
    set->webListMouseUp(MouseButton::Right);
    EXPECT_EQ(view.menus.back(), ListMenuState{});
}

TEST_F(MailsetTest, EntryDialogAddAndModifyThroughTheOpener) {
    put(IniFile::Set, u"tester-TrustList", u"old@t.tw", u"0");
    load();
    set->trustListMouseDown(MouseButton::Right);
    set->mail_modify_Click();  // nothing selected
    EXPECT_TRUE(dialogs.entryCalls.empty());

    dialogs.onEntry = [&](int mode, const std::optional<std::u16string>& text, EntryRowsOpener& o) {
        EXPECT_EQ(mode, 2);
        if (text) {
            EXPECT_TRUE(rig.state.dialog.EditMode);
            o.setRowText(o.selectedRow(), u"new@t.tw");
        } else {
            EXPECT_FALSE(rig.state.dialog.EditMode);
            o.addRow(u"more@t.tw");
        }
    };
    set->mail_add_Click();
    select(L::Trust, {0});
    set->mail_modify_Click();
    ASSERT_EQ(dialogs.entryCalls.size(), 2u);
    EXPECT_EQ(dialogs.entryCalls[1].second, u"old@t.tw");
    EXPECT_EQ(texts(L::Trust), (std::vector<std::u16string>{u"new@t.tw", u"more@t.tw"}));
}

TEST_F(MailsetTest, RemoveEverySelectedRow) {
    for (auto name : {u"a@1.tw", u"b@2.tw", u"c@3.tw", u"d@4.tw", u"e@5.tw"})
        put(IniFile::Set, u"tester-BlackList", name, u"0");
    put(IniFile::Set, u"tester-Domain", u"2.tw", u"0");
    load();
    select(L::Black, {0, 1, 3});
    set->blackListMouseDown(MouseButton::Right);
    set->menuChosen(ListMenuItem::MailRemove);
    EXPECT_EQ(texts(L::Black), (std::vector<std::u16string>{u"c@3.tw", u"e@5.tw"}));
    for (auto gone : {u"a@1.tw", u"b@2.tw", u"d@4.tw"}) EXPECT_FALSE(ini(IniFile::Set, u"tester-BlackList", gone));
    EXPECT_TRUE(ini(IniFile::Set, u"tester-BlackList", u"c@3.tw"));
    EXPECT_TRUE(ini(IniFile::Set, u"tester-Domain", u"2.tw")) << "the domain entry stays";
}

TEST_F(MailsetTest, DomainSwitch) {
    put(IniFile::Set, u"tester-BlackList", u"ads@d", u"0");
    put(IniFile::Set, u"tester-BlackList", u"nodomain", u"0");
    put(IniFile::Set, u"tester-BlackList", u"space@ ", u"0");
    load();  // sorted: ads@d, nodomain, space@
    select(L::Black, {0});
    set->blackListMouseDown(MouseButton::Right);
    EXPECT_FALSE(view.menus.back().doFilterChecked);
    set->do_filter_Click();
    EXPECT_EQ(ini(IniFile::Set, u"tester-BlackList", u"ads@d"), u"1");
    EXPECT_EQ(ini(IniFile::Set, u"tester-Domain", u"d"), u"0");
    EXPECT_TRUE(view.rows[L::Black][0].red);

    set->blackListMouseDown(MouseButton::Right);
    EXPECT_TRUE(view.menus.back().doFilterChecked);
    set->do_filter_Click();
    EXPECT_EQ(ini(IniFile::Set, u"tester-BlackList", u"ads@d"), u"0");
    EXPECT_FALSE(ini(IniFile::Set, u"tester-Domain", u"d"));
    EXPECT_FALSE(view.rows[L::Black][0].red);

    // Entries without a domain change nothing.
    for (int row : {1, 2}) {
        set->RowSelected(L::Black, 0, false);
        set->RowSelected(L::Black, 1, false);
        select(L::Black, {row});
        set->blackListMouseDown(MouseButton::Right);
        set->do_filter_Click();
        EXPECT_FALSE(view.rows[L::Black][static_cast<std::size_t>(row)].red);
    }
    EXPECT_EQ(ini(IniFile::Set, u"tester-BlackList", u"nodomain"), u"0");
    EXPECT_EQ(ini(IniFile::Set, u"tester-BlackList", u"space@ "), u"0");
    EXPECT_TRUE(rig.store.listKeys(IniFile::Set, u"tester-Domain").empty());
}

// ---------------------------------------------------------------------------
// The web-address list and the lock.

TEST_F(MailsetTest, WebListRowsFromIeIni) {
    rig.files.put(u"/prog/ie.ini", "[IeUrl]\r\nhttp://one.tw/=1\r\n=1\r\nhttp://three.tw/=3\r\nhttp://zero.tw/=0\r\n"
                                   "http://odd.tw/=x\r\n");
    load();
    const std::vector<MailsetRow> want = {{u"http://one.tw/", u"", true, false},
                                          {u"http://three.tw/", u"", false, true},
                                          {u"http://zero.tw/", u"", false, false},
                                          {u"http://odd.tw/", u"", false, false}};
    EXPECT_EQ(set->rows(L::Web), want);
    EXPECT_EQ(view.rows[L::Web], want);
}

TEST_F(MailsetTest, PerPageSwitchAndOpenPage) {
    put(IniFile::Ie, u"IeUrl", u"http://ads.tw/", u"3");
    put(IniFile::Ie, u"IeUrl", u"http://other.tw/", u"0");
    load();
    select(L::Web, {0});
    set->webListMouseUp(MouseButton::Right);
    EXPECT_TRUE(view.menus.back().popAdvChecked);
    set->pop_adv_Click();
    EXPECT_EQ(ini(IniFile::Ie, u"IeUrl", u"http://ads.tw/"), u"1");
    EXPECT_EQ(view.rows[L::Web][0], (MailsetRow{u"http://ads.tw/", u"", true, false}));
    set->webListMouseUp(MouseButton::Right);
    EXPECT_FALSE(view.menus.back().popAdvChecked);
    set->pop_adv_Click();
    EXPECT_EQ(ini(IniFile::Ie, u"IeUrl", u"http://ads.tw/"), u"3");
    EXPECT_EQ(view.rows[L::Web][0], (MailsetRow{u"http://ads.tw/", u"", false, true}));
    EXPECT_EQ(ini(IniFile::Ie, u"IeUrl", u"http://other.tw/"), u"0");

    set->open_url_Click();
    EXPECT_EQ(rig.shell.opened, (std::vector<std::u16string>{u"http://ads.tw/"}));
}

TEST_F(MailsetTest, LockedPageTakesNoTicksNoMenuUntilUnlocked) {
    RegistryValues(rig.registry).WriteRegString(u"PassWord", u"Secret");
    put(IniFile::Ie, u"IeUrl", u"http://a.tw/", u"0");
    rig.state.prefs.options = settings::Options::FromStored(u"000000001000");
    put(IniFile::Set, u"tester", u"Option", u"000000001000");
    load();
    EXPECT_TRUE(view.unlockVisible);
    EXPECT_FALSE(view.optionEnabled[8]);
    EXPECT_TRUE(view.options[8]) << "the state still shows";
    EXPECT_TRUE(view.optionEnabled[9]);

    rig.state.dialog.ListMode = 1;
    set->webEntryChecked(0, true);
    EXPECT_EQ(ini(IniFile::Ie, u"IeUrl", u"http://a.tw/"), u"0");
    EXPECT_FALSE(view.rows[L::Web][0].checked) << "the box shows the stored state again";
    set->webListMouseUp(MouseButton::Right);
    EXPECT_TRUE(view.menus.empty());
    EXPECT_EQ(rig.state.dialog.ListMode, 1);
    set->optionClicked(8, false);
    EXPECT_TRUE(set->option(8)) << "a disabled box takes no click";

    // Wrong, different case, empty and cancelled answers keep it locked.
    for (std::optional<std::u16string> a :
         {std::optional<std::u16string>(u"wrong"), std::optional<std::u16string>(u"secret"),
          std::optional<std::u16string>(u""), std::optional<std::u16string>()}) {
        dialogs.answer = a;
        set->unlockWebAddressPage();
        EXPECT_EQ(view.messages.back(), std::make_pair(std::u16string(u"密碼錯誤"), std::u16string(u"網址過濾")));
        EXPECT_TRUE(set->webPageLocked());
        EXPECT_TRUE(view.unlockVisible);
    }
    EXPECT_EQ(dialogs.prompts.front(), u"請輸入管制密碼|網址過濾|*");

    const std::size_t messages = view.messages.size();
    dialogs.answer = u"Secret";
    set->unlockWebAddressPage();
    EXPECT_EQ(view.messages.size(), messages);
    EXPECT_FALSE(view.unlockVisible);
    EXPECT_TRUE(view.optionEnabled[8]);
    set->webEntryChecked(0, true);
    EXPECT_EQ(ini(IniFile::Ie, u"IeUrl", u"http://a.tw/"), u"1");
    set->webListMouseUp(MouseButton::Right);
    EXPECT_EQ(view.menus.size(), 1u);
    EXPECT_EQ(rig.state.dialog.ListMode, 3);

    // The lock starts again at the next opening.
    view = FakeMailsetView{};
    load();
    EXPECT_TRUE(set->webPageLocked());
    EXPECT_TRUE(view.unlockVisible);
}

TEST_F(MailsetTest, WebEntryEditKeepsCheckAndColour) {
    put(IniFile::Ie, u"IeUrl", u"http://a.tw/", u"1");
    put(IniFile::Ie, u"IeUrl", u"http://b.tw/", u"3");
    load();
    select(L::Web, {0});
    set->webListMouseUp(MouseButton::Left);
    dialogs.onEntry = [&](int mode, const std::optional<std::u16string>& text, EntryRowsOpener& o) {
        EXPECT_EQ(mode, 3);
        EXPECT_EQ(text, u"http://a.tw/");
        o.setRowText(o.selectedRow(), u"http://a2.tw/");
    };
    set->mail_modify_Click();
    EXPECT_EQ(view.rows[L::Web][0], (MailsetRow{u"http://a2.tw/", u"", true, false}));
    EXPECT_EQ(view.rows[L::Web][1], (MailsetRow{u"http://b.tw/", u"", false, true}));
}

}  // namespace
}  // namespace iw::settings
