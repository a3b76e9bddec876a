// The account dialog's presenter over an in-memory set.ini: the address
// filled from user and host, the empty-field messages and their order, what
// set.ini cannot hold, modify mode, and that nothing is lost when the file
// refuses a write.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/program_state.h"
#include "platform/native.h"
#include "settings/account_dialog.h"
#include "settings/accounts.h"
#include "tests/support/dialog_openers.h"
#include "tests/support/fake_files.h"

namespace iw::settings {
namespace {

struct RecordingView : AccountDialogView {
    std::u16string shown[5];
    int security = -1;
    bool userEnabled = true;
    std::optional<AccountField> focused;
    std::vector<std::pair<std::u16string, std::u16string>> boxes;  // text, title
    bool closed = false;

    void setText(AccountField f, const std::u16string& t) override { shown[static_cast<int>(f)] = t; }
    void setSecurity(int p) override { security = p; }
    void setEnabled(AccountField f, bool e) override {
        if (f == AccountField::User) userEnabled = e;
    }
    void focus(AccountField f) override { focused = f; }
    void messageBox(const std::u16string& text, const std::u16string& title) override { boxes.push_back({text, title}); }
    void close() override { closed = true; }
};

class AccountDialogTest : public ::testing::Test {
protected:
    std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    test::FakeFiles files;
    SettingsStore store{files, *cp, u"C:\\P\\"};
    settings::ProgramState m;
    test::FakeAccountRows rows;
    RecordingView view;
    std::unique_ptr<AccountDialog> dialog;

    void SetUp() override { m.identity.UserSection = u"tester"; }

    AccountDialog& open(const std::u16string& address = u"") {
        dialog = std::make_unique<AccountDialog>(store, *cp, m, rows, view);
        dialog->load(address);
        return *dialog;
    }
    void type(const std::u16string& user, const std::u16string& password, const std::u16string& host) {
        dialog->userChanged(user);
        dialog->passwordChanged(password);
        dialog->hostChanged(host);
    }
    // set.ini's bytes (ASCII in these tests), or nullopt when there is no file.
    std::optional<std::string> setIni() const { return files.content(u"C:\\P\\set.ini"); }
    std::u16string value(const std::u16string& section, const std::u16string& key) {
        return store.read(IniFile::Set, section, key, u"<missing>");
    }
    void storeAccount(const std::u16string& address, const std::u16string& user, const std::u16string& password,
                      const std::u16string& host, const std::u16string& security) {
        WriteSetting(store, IniFile::Set, u"tester-Mail", address, u"0");
        WriteSetting(store, IniFile::Set, address, u"Account", user);
        WriteSetting(store, IniFile::Set, address, u"PassWord", ScramblePassword(*cp, password));
        WriteSetting(store, IniFile::Set, address, u"PoP3", host);
        if (!security.empty()) WriteSetting(store, IniFile::Set, address, u"Security", security);
    }
};

TEST_F(AccountDialogTest, AddressFollowsUserAndHostAsTheyAreTyped) {
    open();
    struct Step {
        bool host;  // the host box changes, else the user box
        std::u16string text, address;
    } steps[] = {
        {true, u"p", u"@p"},
        {true, u"pop.hinet.tw", u"@pop.hinet.tw"},  // host first: "@" and the host
        {false, u"m", u"m@pop.hinet.tw"},
        {false, u"me", u"me@pop.hinet.tw"},
        {true, u"", u"me@"},
        {false, u"", u"@"},
    };
    for (const Step& s : steps) {
        if (s.host) dialog->hostChanged(s.text);
        else dialog->userChanged(s.text);
        EXPECT_EQ(dialog->text(AccountField::Address), s.address);
        EXPECT_EQ(view.shown[static_cast<int>(AccountField::Address)], s.address);
    }
    // Typed into directly, the address is the user's own until user or host change again.
    dialog->addressChanged(u"boss@corp.tw");
    dialog->passwordChanged(u"pw");
    EXPECT_EQ(dialog->text(AccountField::Address), u"boss@corp.tw");
    dialog->userChanged(u"x");
    EXPECT_EQ(dialog->text(AccountField::Address), u"x@");
}

TEST_F(AccountDialogTest, EmptyFieldsStopTheSaveInTheOrderHostAddressPasswordUser) {
    struct Case {
        std::u16string user, password, host, address;
        std::u16string message;
        AccountField focus;
    } cases[] = {
        {u"", u"", u"", u"", u"郵件伺服主機(POP3):不能空白", AccountField::Host},
        {u"me", u"pw", u"", u"me@x", u"郵件伺服主機(POP3):不能空白", AccountField::Host},
        {u"me", u"pw", u" \t", u"me@x", u"郵件伺服主機(POP3):不能空白", AccountField::Host},
        {u"", u"", u"h", u"", u"電子信箱地址:不能空白", AccountField::Address},
        {u"", u"", u"h", u"  ", u"電子信箱地址:不能空白", AccountField::Address},
        {u"", u"", u"h", u"a@h", u"信箱密碼:不能空白", AccountField::Password},
        {u"", u"pw", u"h", u"a@h", u"使用者帳號:不能空白", AccountField::User},
        {u" ", u"pw", u"h", u"a@h", u"使用者帳號:不能空白", AccountField::User},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        view = RecordingView{};
        open();
        type(c.user, c.password, c.host);
        dialog->addressChanged(c.address);
        dialog->confirm();
        ASSERT_EQ(view.boxes.size(), 1u);
        EXPECT_EQ(view.boxes[0].first, c.message);
        EXPECT_EQ(view.focused, c.focus);
        EXPECT_FALSE(view.closed);
        EXPECT_FALSE(dialog->closed());
        EXPECT_FALSE(setIni().has_value());
        EXPECT_TRUE(rows.rows.empty());
    }
}

TEST_F(AccountDialogTest, AddWritesRosterKeyAndSectionAsTypedAndAddsTheRow) {
    WriteSetting(store, IniFile::Set, u"tester-Mail", u"first@x.tw", u"0");
    open();
    type(u"me", u"Pa ss!", u"pop.x.tw:995");
    dialog->securityChosen(1);
    dialog->confirm();
    EXPECT_TRUE(view.boxes.empty());
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(rows.rows, (std::vector<test::AccountRow>{{u"me", u"me@pop.x.tw:995"}}));
    EXPECT_EQ(ListSectionKeys(store, u"tester-Mail"), (std::vector<std::u16string>{u"first@x.tw", u"me@pop.x.tw:995"}));
    EXPECT_EQ(value(u"tester-Mail", u"me@pop.x.tw:995"), u"0");
    EXPECT_EQ(ListSectionKeys(store, u"me@pop.x.tw:995"),
              (std::vector<std::u16string>{u"Account", u"PassWord", u"PoP3", u"Security"}));
    EXPECT_EQ(value(u"me@pop.x.tw:995", u"Account"), u"me");
    // Only the scrambled form is stored.
    EXPECT_EQ(value(u"me@pop.x.tw:995", u"PassWord"), ScramblePassword(*cp, u"Pa ss!"));
    EXPECT_EQ(setIni()->find("Pa ss!"), std::string::npos);
    EXPECT_EQ(value(u"me@pop.x.tw:995", u"PoP3"), u"pop.x.tw:995");
    EXPECT_EQ(value(u"me@pop.x.tw:995", u"Security"), u"1");
    EXPECT_EQ(ReadMailAccount(store, u"me@pop.x.tw:995").Pop3Host, u"pop.x.tw:995");
}

TEST_F(AccountDialogTest, SecurityChoiceIsStoredAsItsPosition) {
    for (int pos : {0, 1, 2}) {
        SCOPED_TRACE(pos);
        open();
        type(u"u" + std::u16string(1, char16_t(u'0' + pos)), u"pw", u"h");
        dialog->securityChosen(pos);
        dialog->confirm();
        EXPECT_EQ(value(dialog->text(AccountField::Address), u"Security"), std::u16string(1, char16_t(u'0' + pos)));
    }
}

TEST_F(AccountDialogTest, WhatSetIniCannotHoldIsRefusedBeforeAnythingIsWritten) {
    const std::u16string addressRule = u"電子信箱地址:不能含有「=」或「]」,也不能以「[」或「;」開頭";
    struct Case {
        std::u16string user, password, host, address;
        std::u16string message;
        AccountField focus;
    } cases[] = {
        {u"me", u"pw", u"h", u"me=x@h", addressRule, AccountField::Address},
        {u"me", u"pw", u"h", u"[me@h", addressRule, AccountField::Address},
        {u"me", u"pw", u"h", u";me@h", addressRule, AccountField::Address},
        {u"me", u"pw", u"h", u"me@h]", addressRule, AccountField::Address},
        {u"me", u"pw", u"h\r\nx", u"me@h", u"郵件伺服主機(POP3):不能含有換行", AccountField::Host},
        {u"m\ne", u"pw", u"h", u"me@h", u"使用者帳號:不能含有換行", AccountField::User},
        // "%" would come back as "z", Chinese as "?": the login would fail later.
        {u"me", u"50%off", u"h", u"me@h", u"", AccountField::Password},
        {u"me", u"密碼", u"h", u"me@h", u"", AccountField::Password},
        // A leading "{" scrambles to a space, which set.ini trims away.
        {u"me", u"{pw}", u"h", u"me@h", u"", AccountField::Password},
    };
    for (const Case& c : cases) {
        view = RecordingView{};
        open();
        type(c.user, c.password, c.host);
        dialog->addressChanged(c.address);
        dialog->confirm();
        ASSERT_EQ(view.boxes.size(), 1u);
        if (!c.message.empty()) EXPECT_EQ(view.boxes[0].first, c.message);
        else EXPECT_EQ(view.boxes[0].first.rfind(u"信箱密碼:", 0), 0u);
        EXPECT_EQ(view.boxes[0].second, u"建立信箱帳號");
        EXPECT_EQ(view.focused, c.focus);
        EXPECT_FALSE(view.closed);
        EXPECT_FALSE(setIni().has_value());
    }
}

TEST_F(AccountDialogTest, ModifyShowsTheStoredAccountAndMovesItToTheNewAddress) {
    storeAccount(u"old@x.tw", u"me", u"s3cret", u"pop.old.tw", u"2");
    WriteSetting(store, IniFile::Set, u"tester-Mail", u"other@y.tw", u"0");
    storeAccount(u"other@y.tw", u"o", u"p", u"pop.y.tw", u"");
    rows.rows = {{u"me", u"old@x.tw"}, {u"o", u"other@y.tw"}};
    rows.selected = 0;
    m.dialog.EditMode = true;
    open(u"old@x.tw");
    EXPECT_FALSE(view.userEnabled);
    EXPECT_FALSE(dialog->enabled(AccountField::User));
    EXPECT_EQ(view.shown[static_cast<int>(AccountField::Host)], u"pop.old.tw");
    EXPECT_EQ(view.shown[static_cast<int>(AccountField::User)], u"me");
    EXPECT_EQ(view.shown[static_cast<int>(AccountField::Password)], u"s3cret");  // as typed
    // The stored address, though it differs from user "@" host.
    EXPECT_EQ(view.shown[static_cast<int>(AccountField::Address)], u"old@x.tw");
    EXPECT_EQ(dialog->text(AccountField::Address), u"old@x.tw");
    EXPECT_EQ(view.security, 2);

    dialog->hostChanged(u"pop.new.tw");
    EXPECT_EQ(dialog->text(AccountField::Address), u"me@pop.new.tw");
    dialog->confirm();
    EXPECT_TRUE(view.boxes.empty());
    EXPECT_TRUE(view.closed);
    EXPECT_FALSE(m.dialog.EditMode);
    // The row keeps its user and shows the new address; no row is added.
    EXPECT_EQ(rows.rows, (std::vector<test::AccountRow>{{u"me", u"me@pop.new.tw"}, {u"o", u"other@y.tw"}}));
    EXPECT_EQ(ListSectionKeys(store, u"tester-Mail"), (std::vector<std::u16string>{u"other@y.tw", u"me@pop.new.tw"}));
    EXPECT_TRUE(ListSectionKeys(store, u"old@x.tw").empty());
    const MailAccount moved = ReadMailAccount(store, u"me@pop.new.tw");
    EXPECT_EQ(moved.User, u"me");
    EXPECT_EQ(UnscramblePassword(*cp, moved.Password), u"s3cret");
    EXPECT_EQ(moved.Pop3Host, u"pop.new.tw");
    EXPECT_EQ(value(u"me@pop.new.tw", u"Security"), u"2");
    EXPECT_EQ(ReadMailAccount(store, u"other@y.tw").Pop3Host, u"pop.y.tw");
}

TEST_F(AccountDialogTest, ModifyKeepingTheAddressRewritesItAtTheEndOfTheRoster) {
    storeAccount(u"me@x.tw", u"me", u"old", u"pop.x.tw", u"");
    storeAccount(u"b@y.tw", u"b", u"p", u"pop.y.tw", u"");
    rows.rows = {{u"me", u"me@x.tw"}, {u"b", u"b@y.tw"}};
    rows.selected = 0;
    m.dialog.EditMode = true;
    open(u"me@x.tw");
    EXPECT_EQ(view.security, 0);  // no Security key: none
    dialog->passwordChanged(u"new");
    dialog->addressChanged(u"ME@x.tw");  // letter case only
    dialog->confirm();
    ASSERT_TRUE(view.closed);
    EXPECT_EQ(ListSectionKeys(store, u"tester-Mail"), (std::vector<std::u16string>{u"b@y.tw", u"ME@x.tw"}));
    EXPECT_EQ(UnscramblePassword(*cp, ReadMailAccount(store, u"me@x.tw").Password), u"new");
    EXPECT_EQ(rows.rows[0].address, u"ME@x.tw");
}

// Modify rewrites the whole section: a certificate the user trusted stays
// with its host and encryption, and goes when either changes.
TEST_F(AccountDialogTest, ModifyKeepsTheTrustedCertificateOnlyForTheSameHostAndEncryption) {
    struct Case {
        const char16_t* host;
        int security;
        const char16_t* address;
        const char16_t* pin;  // after the save
    } cases[] = {
        {u"pop.x.tw:995", 1, u"me@x.tw", u"AB12"},     // only the password changes
        {u"pop.x.tw:995", 1, u"new@x.tw", u"AB12"},    // a new address, same server
        {u"pop.y.tw:995", 1, u"me@x.tw", u"<missing>"},  // another host
        {u"pop.x.tw:995", 2, u"me@x.tw", u"<missing>"},  // another kind of encryption
    };
    for (const Case& c : cases) {
        files.remove(u"C:\\P\\set.ini");
        storeAccount(u"me@x.tw", u"me", u"old", u"pop.x.tw:995", u"1");
        WriteSetting(store, IniFile::Set, u"me@x.tw", u"CertSha256", u"AB12");
        rows.rows = {{u"me", u"me@x.tw"}};
        rows.selected = 0;
        view = RecordingView{};
        m.dialog.EditMode = true;
        open(u"me@x.tw");
        dialog->hostChanged(c.host);
        dialog->passwordChanged(u"new");
        dialog->addressChanged(c.address);
        dialog->securityChosen(c.security);
        dialog->confirm();
        ASSERT_TRUE(view.closed);
        EXPECT_EQ(value(c.address, u"CertSha256"), c.pin) << "case " << (&c - cases);
    }
}

TEST_F(AccountDialogTest, CancelAndEveryOtherCloseWriteNothingAndEndModifyMode) {
    storeAccount(u"me@x.tw", u"me", u"pw", u"pop.x.tw", u"");
    const auto before = files.content(u"C:\\P\\set.ini");
    rows.rows = {{u"me", u"me@x.tw"}};
    rows.selected = 0;
    for (int how : {0, 1}) {
        SCOPED_TRACE(how);
        view = RecordingView{};
        m.dialog.EditMode = true;
        open(u"me@x.tw");
        dialog->hostChanged(u"elsewhere");
        if (how == 0) dialog->cancel();
        else dialog->unload();
        EXPECT_FALSE(m.dialog.EditMode);
        EXPECT_TRUE(dialog->closed());
        EXPECT_EQ(view.closed, how == 0);
        dialog->confirm();  // a late click after the close does nothing
        EXPECT_EQ(files.content(u"C:\\P\\set.ini"), before);
        EXPECT_EQ(rows.rows, (std::vector<test::AccountRow>{{u"me", u"me@x.tw"}}));
    }
}

TEST_F(AccountDialogTest, RefusedWritesKeepTheDialogOpenAndTheOldAccount) {
    storeAccount(u"old@x.tw", u"me", u"pw", u"pop.x.tw", u"");
    const auto before = files.content(u"C:\\P\\set.ini");
    rows.rows = {{u"me", u"old@x.tw"}};
    rows.selected = 0;
    for (bool editing : {true, false}) {
        SCOPED_TRACE(editing);
        view = RecordingView{};
        m.dialog.EditMode = editing;
        open(editing ? u"old@x.tw" : u"");
        if (!editing) type(u"new", u"pw", u"h");
        dialog->addressChanged(u"moved@x.tw");
        files.setFailWrites(true);
        dialog->confirm();
        files.setFailWrites(false);
        ASSERT_EQ(view.boxes.size(), 1u);
        EXPECT_NE(view.boxes[0].first.find(u"set.ini"), std::u16string::npos);
        EXPECT_FALSE(view.closed);
        EXPECT_EQ(m.dialog.EditMode, editing);
        EXPECT_EQ(files.content(u"C:\\P\\set.ini"), before);
        EXPECT_EQ(rows.rows, (std::vector<test::AccountRow>{{u"me", u"old@x.tw"}}));
        // Nothing typed is lost: the same click succeeds once the file takes writes.
        dialog->confirm();
        EXPECT_TRUE(view.closed);
        EXPECT_EQ(value(u"tester-Mail", u"moved@x.tw"), u"0");
        storeAccount(u"old@x.tw", u"me", u"pw", u"pop.x.tw", u"");
        DeleteSettingKey(store, IniFile::Set, u"tester-Mail", u"moved@x.tw");
        DeleteSettingSection(store, IniFile::Set, u"moved@x.tw");
        rows.rows = {{u"me", u"old@x.tw"}};
        files.put(u"C:\\P\\set.ini", *before);
    }
}

}  // namespace
}  // namespace iw::settings
