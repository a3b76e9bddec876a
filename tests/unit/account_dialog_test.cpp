// The account dialog's presenter over an in-memory set.ini: the address
// filled from user and host, the empty-field messages and their order, what
// set.ini cannot hold, modify mode, and that nothing is lost when the file
// refuses a write.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/certificate_probe.h"
#include "settings/program_state.h"
#include "platform/native.h"
#include "settings/account_dialog.h"
#include "settings/accounts.h"
#include "settings/provider_presets.h"
#include "tests/support/dialog_openers.h"
#include "tests/support/fake_files.h"

namespace iw::settings {
namespace {

struct RecordingView : AccountDialogView {
    static constexpr int kFields = static_cast<int>(AccountField::SignIn) + 1;
    RecordingView() { std::fill(std::begin(enabledOf), std::end(enabledOf), true); }
    std::u16string shown[kFields];
    int security = -1;
    bool userEnabled = true;
    std::optional<AccountField> focused;
    std::vector<std::pair<std::u16string, std::u16string>> boxes;  // text, title
    bool closed = false;

    void setText(AccountField f, const std::u16string& t) override { shown[static_cast<int>(f)] = t; }
    void setSecurity(int p) override { security = p; }
    void setEnabled(AccountField f, bool e) override {
        if (f == AccountField::User) userEnabled = e;
        enabledOf[static_cast<int>(f)] = e;
    }
    // The login way and the sign-in.
    bool enabledOf[kFields];
    int loginWay = -1;
    bool signInEnabled = false;
    std::u16string signInCaption, signInStatus;
    void setLoginWay(int p) override { loginWay = p; }
    void setSignInButton(bool enabled, const std::u16string& caption) override {
        signInEnabled = enabled;
        signInCaption = caption;
    }
    void setSignInStatus(const std::u16string& t) override { signInStatus = t; }
    void focus(AccountField f) override { focused = f; }
    void messageBox(const std::u16string& text, const std::u16string& title) override { boxes.push_back({text, title}); }
    void close() override { closed = true; }
    // Provider hint and the certificate step.
    std::u16string hint;
    bool certificateEnabled = false;
    std::u16string certificateCaption;
    std::vector<std::pair<std::u16string, bool>> certificates;  // description, trust offered
    bool trustAnswer = false;
    void setHint(const std::u16string& t) override { hint = t; }
    void setCertificateButton(bool enabled, const std::u16string& caption) override {
        certificateEnabled = enabled;
        certificateCaption = caption;
    }
    bool showCertificate(const std::u16string& description, bool offer) override {
        certificates.push_back({description, offer});
        return trustAnswer;
    }
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

// --- Provider fills ----------------------------------------------------------

// What the boxes show after the user's steps: a fill follows the provider the
// address names until the user types a host or picks an encryption, and
// never replaces what the user typed.
TEST_F(AccountDialogTest, ProviderFillsFollowTheAddressButNeverReplaceWhatTheUserTyped) {
    enum Box { User, Host, Address, Security };
    struct Step {
        Box box;
        std::u16string text;  // for Security: "0", "1" or "2"
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::u16string host, address;
        int security;
        std::u16string hintStart;  // "" for the example host
    } cases[] = {
        {"user name that is a Gmail address", {{User, u"me@gmail.com"}}, u"pop.gmail.com", u"me@gmail.com", 1, u"Gmail"},
        {"letter case and blanks", {{User, u" Me@GMAIL.com "}}, u"pop.gmail.com", u" Me@GMAIL.com ", 1, u"Gmail"},
        {"typing on past the provider takes the fill back",
         {{User, u"me@gmail.com"}, {User, u"me@gmail.com.tw"}}, u"", u"me@gmail.com.tw@", 0, u""},
        {"another provider replaces an untouched fill",
         {{User, u"me@gmail.com"}, {User, u"me@qq.com"}}, u"pop.qq.com", u"me@qq.com", 1, u"QQ"},
        {"a typed host stays", {{User, u"me@gmail.com"}, {Host, u"mail.mine.tw"}, {User, u"me@yahoo.com"}},
         u"mail.mine.tw", u"me@yahoo.com@mail.mine.tw", 0, u"Yahoo"},
        {"a host typed first stays", {{Host, u"pop.mine.tw"}, {User, u"me@gmail.com"}}, u"pop.mine.tw",
         u"me@gmail.com@pop.mine.tw", 0, u"Gmail"},
        {"a chosen encryption stays", {{Security, u"2"}, {User, u"me@gmail.com"}}, u"pop.gmail.com", u"me@gmail.com", 2,
         u"Gmail"},
        {"an address typed in its own box stays as typed", {{User, u"me"}, {Address, u"me@hotmail.com.tw"}},
         u"outlook.office365.com", u"me@hotmail.com.tw", 1, u"Outlook/Hotmail"},
        {"a known server typed by hand fills the encryption", {{User, u"me"}, {Host, u"pop.gmail.com"}},
         u"pop.gmail.com", u"me@pop.gmail.com", 1, u"Gmail"},
        {"Microsoft 365 is known by its server", {{User, u"me@corp.tw"}, {Host, u"outlook.office365.com"}},
         u"outlook.office365.com", u"me@corp.tw@outlook.office365.com", 1, u"Microsoft 365"},
        {"HiNet: the mailbox's server, encryption left alone", {{User, u"me@ms12.hinet.net"}}, u"ms12.hinet.net",
         u"me@ms12.hinet.net", 0, u"HiNet"},
        {"iCloud: no server to fill, only the hint", {{User, u"me@icloud.com"}}, u"", u"me@icloud.com@", 0, u"iCloud"},
        {"no provider", {{User, u"me@corp.tw"}, {Host, u"pop.corp.tw"}}, u"pop.corp.tw", u"me@corp.tw@pop.corp.tw", 0,
         u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view = RecordingView{};
        open();
        // As on screen: a box shows what was typed into it, then what the dialog puts there.
        for (const Step& st : c.steps) {
            switch (st.box) {
                case User:
                    view.shown[static_cast<int>(AccountField::User)] = st.text;
                    dialog->userChanged(st.text);
                    break;
                case Host:
                    view.shown[static_cast<int>(AccountField::Host)] = st.text;
                    dialog->hostChanged(st.text);
                    break;
                case Address:
                    view.shown[static_cast<int>(AccountField::Address)] = st.text;
                    dialog->addressChanged(st.text);
                    break;
                case Security:
                    view.security = st.text[0] - u'0';
                    dialog->securityChosen(view.security);
                    break;
            }
        }
        EXPECT_EQ(dialog->text(AccountField::Host), c.host);
        EXPECT_EQ(view.shown[static_cast<int>(AccountField::Host)], c.host);
        EXPECT_EQ(dialog->text(AccountField::Address), c.address);
        EXPECT_EQ(view.shown[static_cast<int>(AccountField::Address)], c.address);
        EXPECT_EQ(dialog->security(), c.security);
        EXPECT_EQ(view.security, c.security);
        if (c.hintStart.empty()) {
            EXPECT_EQ(view.hint, kAccountHostHint);
        } else {
            EXPECT_EQ(view.hint.rfind(c.hintStart, 0), 0u);
        }
        EXPECT_EQ(view.hint, dialog->hint());
    }
}

TEST_F(AccountDialogTest, AFilledAccountIsSavedAsShown) {
    open();
    dialog->userChanged(u"me@gmail.com");
    dialog->passwordChanged(u"app pass word");
    dialog->confirm();
    ASSERT_TRUE(view.closed);
    EXPECT_EQ(ListSectionKeys(store, u"tester-Mail"), (std::vector<std::u16string>{u"me@gmail.com"}));
    EXPECT_EQ(value(u"me@gmail.com", u"Account"), u"me@gmail.com");
    EXPECT_EQ(value(u"me@gmail.com", u"PoP3"), u"pop.gmail.com");
    EXPECT_EQ(value(u"me@gmail.com", u"Security"), u"1");
    // The port the program will use is the encryption's: 995.
    std::string host;
    std::uint16_t port = 0;
    app::SplitAccountHost("pop.gmail.com", platform::MailSecurity::Tls, host, port);
    EXPECT_EQ(port, 995);
}

TEST_F(AccountDialogTest, ModifyShowsTheProviderHintButKeepsTheStoredChoices) {
    storeAccount(u"me@gmail.com", u"me@gmail.com", u"pw", u"pop.gmail.com", u"");
    rows.rows = {{u"me@gmail.com", u"me@gmail.com"}};
    rows.selected = 0;
    m.dialog.EditMode = true;
    open(u"me@gmail.com");
    EXPECT_EQ(view.hint.rfind(u"Gmail", 0), 0u);
    EXPECT_EQ(dialog->security(), 0);  // stored as none: the user's choice
    dialog->addressChanged(u"me@qq.com");  // an address of another provider
    EXPECT_EQ(dialog->text(AccountField::Host), u"pop.gmail.com");
    EXPECT_EQ(dialog->security(), 0);
}

// --- The certificate step --------------------------------------------------

struct ProberCall {
    std::string host;
    std::uint16_t port;
    platform::MailSecurity security;
    std::string pin;
};

class AccountCertificateTest : public AccountDialogTest {
protected:
    std::vector<ProberCall> calls;
    app::CertificateProbe answer;
    std::function<void(const std::function<bool()>&)> during;  // runs inside the fetch

    void SetUp() override {
        AccountDialogTest::SetUp();
        answer.reached = true;
        answer.certificate.subject = "CN=localhost";
        answer.certificate.issuer = "CN=localhost";
        answer.certificate.sha256 = std::string(64, 'a');
        answer.checks = answer.verdict = platform::TlsFailure::Untrusted;
    }
    AccountDialog& openWithProber(const std::u16string& address = u"") {
        dialog = std::make_unique<AccountDialog>(store, *cp, m, rows, view);
        dialog->setCertificateProber([this](const std::string& host, std::uint16_t port, platform::MailSecurity sec,
                                            const std::string& pin, const std::function<bool()>& stop) {
            calls.push_back({host, port, sec, pin});
            if (during) during(stop);
            app::CertificateProbe out = answer;
            if (stop()) {
                out = app::CertificateProbe{};
                out.problem = u"已停止";
            }
            return app::LookAtCertificate(out, *cp);
        });
        dialog->load(address);
        return *dialog;
    }
    void fillNew(const std::u16string& host, int security) {
        type(u"me", u"pw", host);
        dialog->securityChosen(security);
    }
};

TEST_F(AccountCertificateTest, TheButtonNeedsAnEncryptionAndAHost) {
    openWithProber();
    EXPECT_FALSE(view.certificateEnabled);
    EXPECT_EQ(view.certificateCaption, kViewCertificateCaption);
    dialog->viewCertificate();
    dialog->securityChosen(1);
    EXPECT_TRUE(view.certificateEnabled);
    dialog->viewCertificate();  // no host yet
    ASSERT_EQ(view.boxes.size(), 2u);
    EXPECT_EQ(view.boxes[0].first, u"請先選擇連線加密(SSL/TLS 或 STARTTLS)");
    EXPECT_EQ(view.boxes[1].first, u"郵件伺服主機(POP3):不能空白");
    EXPECT_EQ(view.focused, AccountField::Host);
    EXPECT_TRUE(calls.empty());
    // Without a prober (no network at hand) the step is not offered.
    view = RecordingView{};
    open();
    dialog->securityChosen(1);
    EXPECT_FALSE(view.certificateEnabled);
}

TEST_F(AccountCertificateTest, FetchesForTheHostAndPortInTheBoxes) {
    struct Case {
        std::u16string host;
        int security;
        std::string wantHost;
        std::uint16_t wantPort;
    } cases[] = {
        {u"127.0.0.5:26995", 1, "127.0.0.5", 26995},
        {u"pop.x.tw", 1, "pop.x.tw", 995},
        {u"pop.x.tw", 2, "pop.x.tw", 110},
        {u" pop.x.tw:110 ", 2, "pop.x.tw", 110},
    };
    for (const Case& c : cases) {
        calls.clear();
        view = RecordingView{};
        openWithProber();
        fillNew(c.host, c.security);
        dialog->viewCertificate();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].host, c.wantHost);
        EXPECT_EQ(calls[0].port, c.wantPort);
        EXPECT_EQ(calls[0].security, static_cast<platform::MailSecurity>(c.security));
        EXPECT_EQ(calls[0].pin, "");
    }
}

// Whether trust is offered, and what 確定 then writes as CertSha256.
TEST_F(AccountCertificateTest, TrustIsOfferedForARefusedCertificateAndWrittenBySave) {
    const std::string sha(64, 'a');
    const std::u16string pin(sha.begin(), sha.end());
    struct Case {
        const char* name;
        platform::TlsFailure checks;
        bool answer;           // the user trusts it when asked
        bool changeHostAfter;  // the host is changed after trusting
        bool offered;
        std::u16string saved;  // CertSha256 after 確定
    } cases[] = {
        {"untrusted, trusted by the user", platform::TlsFailure::Untrusted, true, false, true, pin},
        {"expired, trusted by the user", platform::TlsFailure::Expired, true, false, true, pin},
        {"untrusted, declined", platform::TlsFailure::Untrusted, false, false, true, u"<missing>"},
        {"trusted, then another host", platform::TlsFailure::NameMismatch, true, true, true, u"<missing>"},
        {"a good certificate needs no trust", platform::TlsFailure::None, true, false, false, u"<missing>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        files.remove(u"C:\\P\\set.ini");
        view = RecordingView{};
        view.trustAnswer = c.answer;
        answer.checks = answer.verdict = c.checks;
        openWithProber();
        fillNew(u"127.0.0.5:26995", 1);
        dialog->viewCertificate();
        ASSERT_EQ(view.certificates.size(), 1u);
        EXPECT_EQ(view.certificates[0].second, c.offered);
        const std::u16string& text = view.certificates[0].first;
        EXPECT_NE(text.find(pin), std::u16string::npos);
        EXPECT_NE(text.find(u"CN=localhost"), std::u16string::npos);
        if (c.offered && c.answer) {
            EXPECT_EQ(view.hint, u"已信任此憑證,按「確定」儲存帳號後生效");
        }
        if (c.changeHostAfter) dialog->hostChanged(u"127.0.0.6:26995");
        dialog->confirm();
        ASSERT_TRUE(view.closed);
        EXPECT_EQ(value(dialog->text(AccountField::Address), u"CertSha256"), c.saved);
    }
}

TEST_F(AccountCertificateTest, ModifyAsksWithTheStoredPinAndOffersANewOneOnlyWhenItChanged) {
    const std::string sha(64, 'a');
    struct Case {
        std::string storedPin;
        platform::TlsFailure verdict;  // what the server's certificate gives with that pin
        bool offered;
    } cases[] = {
        {sha, platform::TlsFailure::None, false},
        {std::string(64, 'b'), platform::TlsFailure::PinMismatch, true},
    };
    for (const Case& c : cases) {
        files.remove(u"C:\\P\\set.ini");
        calls.clear();
        view = RecordingView{};
        view.trustAnswer = true;
        storeAccount(u"me@x.tw", u"me", u"pw", u"127.0.0.5:26995", u"1");
        WriteSetting(store, IniFile::Set, u"me@x.tw", u"CertSha256", std::u16string(c.storedPin.begin(), c.storedPin.end()));
        rows.rows = {{u"me", u"me@x.tw"}};
        rows.selected = 0;
        m.dialog.EditMode = true;
        answer.verdict = c.verdict;
        openWithProber(u"me@x.tw");
        dialog->viewCertificate();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].pin, c.storedPin);
        ASSERT_EQ(view.certificates.size(), 1u);
        EXPECT_EQ(view.certificates[0].second, c.offered);
        dialog->confirm();
        EXPECT_EQ(value(u"me@x.tw", u"CertSha256"), std::u16string(sha.begin(), sha.end()));
    }
}

TEST_F(AccountCertificateTest, NoCertificateIsSaidAndNothingIsOffered) {
    answer = app::CertificateProbe{};
    answer.problem = u"連線逾時";
    openWithProber();
    fillNew(u"pop.x.tw", 1);
    dialog->viewCertificate();
    EXPECT_TRUE(view.certificates.empty());
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].first, u"無法取得伺服器憑證:連線逾時");
}

// The fetch waits in the event loop, so the dialog's own clicks run inside
// it: the button stops it, 取消 or 確定 end it, and nothing shows afterwards.
TEST_F(AccountCertificateTest, ClicksDuringTheFetchStopItOrCloseTheDialog) {
    enum What { Stop, Cancel, Save };
    for (What what : {Stop, Cancel, Save}) {
        SCOPED_TRACE(what);
        files.remove(u"C:\\P\\set.ini");
        view = RecordingView{};
        view.trustAnswer = true;
        std::u16string captionDuring;
        bool stopDuring = true;
        during = [&](const std::function<bool()>& stop) {
            captionDuring = view.certificateCaption;
            stopDuring = stop();
            if (what == Stop) dialog->viewCertificate();
            if (what == Cancel) dialog->cancel();
            if (what == Save) dialog->confirm();
            EXPECT_TRUE(stop());
        };
        openWithProber();
        fillNew(u"pop.x.tw", 1);
        dialog->viewCertificate();
        EXPECT_EQ(captionDuring, kStopCertificateCaption);
        EXPECT_FALSE(stopDuring);
        EXPECT_TRUE(view.certificates.empty());
        EXPECT_TRUE(view.boxes.empty());
        EXPECT_FALSE(dialog->certificateBusy());
        EXPECT_EQ(dialog->closed(), what != Stop);
        EXPECT_EQ(value(u"me@pop.x.tw", u"CertSha256"), u"<missing>");
        if (what == Stop) {
            EXPECT_EQ(view.certificateCaption, kViewCertificateCaption);
            during = nullptr;
            dialog->viewCertificate();  // again, to the end
            EXPECT_EQ(view.certificates.size(), 1u);
        }
    }
    during = nullptr;
}

// --- the login way and the sign-in ------------------------------------------

// A browser sign-in that answers as told; a sign-in that ends with tokens
// stores them under the account's address.
struct FakeSignIn : AccountSignIn {
    std::vector<MailAccount> calls;
    SignInReport answer{SignInOutcome::SignedIn, 3, {}};
    std::vector<std::u16string> signedIn;  // addresses with tokens
    std::function<void(const std::function<bool()>&)> during;
    std::vector<std::u16string> steps = {u"請在瀏覽器中登入"};

    SignInReport signIn(const MailAccount& account, const std::function<bool()>& stop,
                        const std::function<void(const std::u16string&)>& progress) override {
        calls.push_back(account);
        for (const auto& s : steps) progress(s);
        if (during) during(stop);
        if (stop()) return {SignInOutcome::Cancelled, -1, {}};
        if (answer.outcome == SignInOutcome::SignedIn || answer.outcome == SignInOutcome::MailboxFailed)
            signedIn.push_back(account.Address);
        return answer;
    }
    bool hasTokens(const std::u16string& address) override {
        return std::find(signedIn.begin(), signedIn.end(), address) != signedIn.end();
    }
    std::vector<std::pair<std::u16string, std::u16string>> moves;
    bool moveFails = false;
    bool moveTokens(const std::u16string& from, const std::u16string& to) override {
        moves.emplace_back(from, to);
        if (moveFails) return false;
        std::replace(signedIn.begin(), signedIn.end(), from, to);
        return true;
    }
};

class AccountLoginTest : public AccountDialogTest {
protected:
    FakeSignIn sign;
    AccountDialog& openSigning(const std::u16string& address = u"") {
        dialog = std::make_unique<AccountDialog>(store, *cp, m, rows, view);
        dialog->setSignIn(&sign);
        dialog->load(address);
        return *dialog;
    }
    // A self-hosted server with its own authorization server.
    void fillCustom() {
        type(u"me", u"pw", u"mail.home.tw");
        dialog->securityChosen(1);
        dialog->loginChosen(static_cast<int>(LoginWay::Custom));
        dialog->oauthFieldChanged(AccountField::AuthorizeUrl, u"http://127.0.0.1:8080/authorize");
        dialog->oauthFieldChanged(AccountField::TokenUrl, u"http://127.0.0.1:8080/token");
        dialog->oauthFieldChanged(AccountField::Scope, u"mail offline_access");
        dialog->oauthFieldChanged(AccountField::ClientId, u"my-client");
    }
    bool shownEnabled(AccountField f) const { return view.enabledOf[static_cast<int>(f)]; }
};

TEST_F(AccountLoginTest, TheProviderPicksTheLoginWayUntilTheUserChoosesOne) {
    struct Case {
        std::u16string user, host, address;  // address "" when not typed
        LoginWay want;
    } cases[] = {
        {u"me@hotmail.com.tw", u"", u"", LoginWay::Microsoft},
        {u"me", u"", u"me@outlook.com", LoginWay::Microsoft},
        {u"me", u"outlook.office365.com", u"", LoginWay::Microsoft},  // a work mailbox, known by its server
        {u"me@gmail.com", u"", u"", LoginWay::Password},              // Gmail takes an app password
        {u"me", u"pop.home.tw", u"", LoginWay::Password},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user.begin(), c.user.end()));
        view = RecordingView{};
        openSigning();
        dialog->userChanged(c.user);
        if (!c.host.empty()) dialog->hostChanged(c.host);
        if (!c.address.empty()) dialog->addressChanged(c.address);
        EXPECT_EQ(dialog->loginWay(), c.want);
        EXPECT_EQ(view.loginWay, static_cast<int>(c.want));
        const bool oauth = c.want != LoginWay::Password;
        EXPECT_EQ(shownEnabled(AccountField::Password), !oauth);
        EXPECT_EQ(shownEnabled(AccountField::AuthorizeUrl), oauth);
        EXPECT_EQ(shownEnabled(AccountField::ClientId), oauth);
        EXPECT_EQ(view.signInEnabled, oauth);
        EXPECT_EQ(view.signInCaption, kSignInCaption);
        // The status line tells how to go on with an OAuth2 way.
        EXPECT_EQ(view.signInStatus.find(u"按「登入...」") != std::u16string::npos, oauth);
    }
    // A way the user chose stays, whatever the address says later.
    view = RecordingView{};
    openSigning();
    dialog->loginChosen(static_cast<int>(LoginWay::Google));
    dialog->userChanged(u"me@outlook.com");
    EXPECT_EQ(dialog->loginWay(), LoginWay::Google);
    // Out of range: nothing changes.
    dialog->loginChosen(4);
    dialog->loginChosen(-1);
    EXPECT_EQ(dialog->loginWay(), LoginWay::Google);
    // Without a sign-in at hand the button is never offered.
    view = RecordingView{};
    open();
    dialog->loginChosen(static_cast<int>(LoginWay::Microsoft));
    EXPECT_FALSE(view.signInEnabled);
}

TEST_F(AccountLoginTest, AnOAuthAccountIsSavedWithItsKeysAndWithoutThePassword) {
    openSigning();
    fillCustom();
    // The password typed before the switch is kept while the dialog is open.
    EXPECT_EQ(dialog->text(AccountField::Password), u"pw");
    dialog->signIn();
    ASSERT_EQ(sign.calls.size(), 1u);
    const MailAccount& asked = sign.calls[0];
    EXPECT_EQ(asked.Address, u"me@mail.home.tw");
    EXPECT_EQ(asked.User, u"me");
    EXPECT_EQ(asked.Pop3Host, u"mail.home.tw");
    EXPECT_EQ(asked.Security, u"1");
    EXPECT_EQ(asked.Auth, u"1");
    EXPECT_EQ(asked.OAuthProvider, u"custom");
    EXPECT_EQ(asked.OAuthAuthorizeUrl, u"http://127.0.0.1:8080/authorize");
    EXPECT_EQ(asked.OAuthClientId, u"my-client");
    EXPECT_TRUE(asked.Password.empty());
    dialog->confirm();
    EXPECT_TRUE(view.boxes.empty());
    ASSERT_TRUE(view.closed);
    const MailAccount saved = ReadMailAccount(store, u"me@mail.home.tw");
    EXPECT_EQ(saved.Auth, u"1");
    EXPECT_EQ(saved.OAuthProvider, u"custom");
    EXPECT_EQ(saved.OAuthAuthorizeUrl, u"http://127.0.0.1:8080/authorize");
    EXPECT_EQ(saved.OAuthTokenUrl, u"http://127.0.0.1:8080/token");
    EXPECT_EQ(saved.OAuthScope, u"mail offline_access");
    EXPECT_EQ(saved.OAuthClientId, u"my-client");
    EXPECT_EQ(saved.Security, u"1");
    EXPECT_EQ(value(u"me@mail.home.tw", u"PassWord"), u"");

    // Back to the password before 確定: the typed password is saved as ever.
    files.remove(u"C:\\P\\set.ini");
    view = RecordingView{};
    openSigning();
    fillCustom();
    dialog->loginChosen(static_cast<int>(LoginWay::Password));
    EXPECT_TRUE(shownEnabled(AccountField::Password));
    dialog->confirm();
    EXPECT_EQ(value(u"me@mail.home.tw", u"PassWord"), ScramblePassword(*cp, u"pw"));
    EXPECT_EQ(value(u"me@mail.home.tw", u"Auth"), u"<missing>");
}

TEST_F(AccountLoginTest, AnOAuthWayWithoutWhatItNeedsIsRefusedBeforeAnythingIsSentOrWritten) {
    struct Case {
        const char* what;
        std::function<void(AccountDialog&)> spoil;
        std::u16string message;
        AccountField focus;
    } cases[] = {
        {"no encryption", [](AccountDialog& d) { d.securityChosen(0); },
         u"以 OAuth2 登入時必須加密連線:請將「連線加密」選為 SSL/TLS 或 STARTTLS(授權不會以明文送出)",
         AccountField::Security},
        {"no authorize address", [](AccountDialog& d) { d.oauthFieldChanged(AccountField::AuthorizeUrl, u" "); },
         u"授權網址:不能空白", AccountField::AuthorizeUrl},
        {"no token address", [](AccountDialog& d) { d.oauthFieldChanged(AccountField::TokenUrl, u""); },
         u"權杖網址:不能空白", AccountField::TokenUrl},
        {"a line break", [](AccountDialog& d) { d.oauthFieldChanged(AccountField::Scope, u"mail\r\nx"); },
         u"授權範圍:不能含有換行", AccountField::Scope},
        {"a line break in the secret",
         [](AccountDialog& d) { d.oauthFieldChanged(AccountField::ClientSecret, u"s3cr\nt"); },
         u"用戶端密碼(選填):不能含有換行", AccountField::ClientSecret},
        {"a secret set.ini cannot hold as typed",
         [](AccountDialog& d) { d.oauthFieldChanged(AccountField::ClientSecret, u"密碼s3cret"); },
         u"用戶端密碼(選填):只能含有英文字母、數字與一般符號", AccountField::ClientSecret},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool save : {false, true}) {
            view = RecordingView{};
            sign = FakeSignIn{};
            openSigning();
            fillCustom();
            c.spoil(*dialog);
            if (save) dialog->confirm();
            else dialog->signIn();
            ASSERT_EQ(view.boxes.size(), 1u);
            EXPECT_EQ(view.boxes[0].first, c.message);
            EXPECT_EQ(view.focused, c.focus);
            EXPECT_TRUE(sign.calls.empty());
            EXPECT_FALSE(dialog->closed());
            EXPECT_FALSE(setIni().has_value());
        }
    }
    // A named provider needs no addresses of its own; the password is not asked for.
    view = RecordingView{};
    openSigning();
    type(u"me@outlook.com", u"", u"");
    dialog->signIn();
    EXPECT_TRUE(view.boxes.empty());
    ASSERT_EQ(sign.calls.size(), 1u);
    EXPECT_EQ(sign.calls[0].OAuthProvider, u"microsoft");
    EXPECT_EQ(sign.calls[0].Pop3Host, u"outlook.office365.com");
    EXPECT_EQ(sign.calls[0].Security, u"1");
}

TEST_F(AccountLoginTest, SavingAnAccountThatNeverSignedInSaysSoAndSavesOnTheSecondConfirm) {
    openSigning();
    fillCustom();
    dialog->confirm();
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_NE(view.boxes[0].first.find(u"尚未登入"), std::u16string::npos);
    EXPECT_EQ(view.focused, AccountField::SignIn);
    EXPECT_FALSE(dialog->closed());
    EXPECT_FALSE(setIni().has_value());
    dialog->confirm();
    EXPECT_TRUE(dialog->closed());
    EXPECT_EQ(value(u"me@mail.home.tw", u"Auth"), u"1");
    // Tokens for another address (the address was changed after the sign-in) do not count.
    files.remove(u"C:\\P\\set.ini");
    view = RecordingView{};
    openSigning();
    fillCustom();
    dialog->signIn();
    dialog->addressChanged(u"other@mail.home.tw");
    dialog->confirm();
    EXPECT_EQ(view.boxes.size(), 1u);
    EXPECT_FALSE(dialog->closed());
}

TEST_F(AccountLoginTest, TheStatusLineSaysHowTheSignInEnded) {
    struct Case {
        SignInOutcome outcome;
        long messages;
        const char16_t* detail;
        std::u16string status;
    } cases[] = {
        {SignInOutcome::SignedIn, 3, u"", u"登入成功,信箱有 3 封郵件"},
        {SignInOutcome::MailboxFailed, -1, u"伺服器拒絕登入", u"已登入並儲存授權,但無法收信:伺服器拒絕登入"},
        {SignInOutcome::TimedOut, -1, u"", u"登入逾時:瀏覽器沒有完成登入,請再按「登入...」"},
        {SignInOutcome::Failed, -1, u"未設定OAuth2用戶端識別碼(OAuthClientId)",
         u"登入失敗:未設定OAuth2用戶端識別碼(OAuthClientId)"},
        {SignInOutcome::Cancelled, -1, u"", u"已取消登入"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.status.begin(), c.status.end()));
        view = RecordingView{};
        sign = FakeSignIn{};
        sign.answer = SignInReport{c.outcome, c.messages, c.detail};
        std::u16string captionDuring, statusDuring;
        sign.during = [&](const std::function<bool()>&) {
            captionDuring = view.signInCaption;
            statusDuring = view.signInStatus;
        };
        openSigning();
        fillCustom();
        dialog->signIn();
        EXPECT_EQ(captionDuring, kCancelSignInCaption);
        EXPECT_EQ(statusDuring, u"請在瀏覽器中登入");  // the sign-in's own step
        EXPECT_EQ(view.signInStatus, c.status);
        EXPECT_EQ(dialog->signInStatus(), c.status);
        EXPECT_EQ(view.signInCaption, kSignInCaption);
        EXPECT_TRUE(view.signInEnabled);
        EXPECT_FALSE(dialog->signInBusy());
        EXPECT_TRUE(view.boxes.empty());
    }
}

TEST_F(AccountLoginTest, ClicksDuringTheSignInCancelItOrCloseTheDialog) {
    enum What { Stop, Save, Cancel };
    for (What what : {Stop, Save, Cancel}) {
        SCOPED_TRACE(what);
        files.remove(u"C:\\P\\set.ini");
        view = RecordingView{};
        sign = FakeSignIn{};
        bool stopBefore = true;
        sign.during = [&](const std::function<bool()>& stop) {
            stopBefore = stop();
            if (what == Stop) dialog->signIn();
            if (what == Save) {
                dialog->confirm();  // refused while the sign-in runs
                EXPECT_FALSE(stop());
                dialog->signIn();
            }
            if (what == Cancel) dialog->cancel();
            EXPECT_TRUE(stop());
        };
        openSigning();
        fillCustom();
        dialog->signIn();
        EXPECT_FALSE(stopBefore);
        EXPECT_FALSE(dialog->signInBusy());
        EXPECT_EQ(dialog->closed(), what == Cancel);
        EXPECT_FALSE(setIni().has_value());
        if (what == Save) {
            ASSERT_EQ(view.boxes.size(), 1u);
            EXPECT_EQ(view.boxes[0].first, u"登入尚未完成:請先在瀏覽器中完成登入,或按「取消登入」");
        }
        // A closed dialog's status line is left alone.
        EXPECT_EQ(view.signInStatus, what == Cancel ? u"請在瀏覽器中登入" : u"已取消登入");
    }
}

TEST_F(AccountLoginTest, ModifyShowsTheStoredWayAndKeepsTheKeysWithoutABox) {
    storeAccount(u"me@home.tw", u"me", u"", u"mail.home.tw", u"2");
    for (auto [key, v] : {std::pair{u"Auth", u"1"}, {u"OAuthProvider", u"Custom"}, {u"OAuthTenant", u"contoso"},
                          {u"OAuthAuthorizeUrl", u"http://a/authorize"}, {u"OAuthTokenUrl", u"http://a/token"},
                          {u"OAuthDeviceUrl", u"http://a/device"}, {u"OAuthScope", u"mail"}})
        WriteSetting(store, IniFile::Set, u"me@home.tw", key, v);
    sign.signedIn = {u"me@home.tw", u"me2@home.tw"};
    rows.rows = {{u"me", u"me@home.tw"}};
    rows.selected = 0;
    m.dialog.EditMode = true;
    openSigning(u"me@home.tw");
    EXPECT_EQ(dialog->loginWay(), LoginWay::Custom);
    EXPECT_EQ(view.loginWay, 3);
    EXPECT_FALSE(shownEnabled(AccountField::Password));
    EXPECT_EQ(view.shown[static_cast<int>(AccountField::AuthorizeUrl)], u"http://a/authorize");
    EXPECT_EQ(dialog->text(AccountField::Scope), u"mail");
    // Moved to another address: every key goes with it.
    dialog->addressChanged(u"me2@home.tw");
    dialog->confirm();
    ASSERT_TRUE(dialog->closed()) << (view.boxes.empty() ? "" : "refused");
    const MailAccount moved = ReadMailAccount(store, u"me2@home.tw");
    EXPECT_EQ(moved.Auth, u"1");
    EXPECT_EQ(moved.OAuthProvider, u"custom");
    EXPECT_EQ(moved.OAuthTenant, u"contoso");
    EXPECT_EQ(moved.OAuthDeviceUrl, u"http://a/device");
    EXPECT_EQ(moved.OAuthTokenUrl, u"http://a/token");
    EXPECT_EQ(moved.Security, u"2");
    EXPECT_EQ(value(u"me@home.tw", u"Auth"), u"<missing>");
}

// An OAuth2 account moved to another address takes its tokens along, so it
// needs no new sign-in (and is not called unsigned on the way); when they
// cannot be moved the account is still saved and the user is told.
TEST_F(AccountLoginTest, AnAccountMovedToAnotherAddressTakesItsTokens) {
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "the move fails" : "the move works");
        files.remove(u"C:\\P\\set.ini");
        storeAccount(u"me@home.tw", u"me", u"", u"mail.home.tw", u"1");
        for (auto [key, v] : {std::pair{u"Auth", u"1"}, {u"OAuthProvider", u"Custom"},
                              {u"OAuthAuthorizeUrl", u"http://a/authorize"}, {u"OAuthTokenUrl", u"http://a/token"},
                              {u"OAuthScope", u"mail"}, {u"OAuthClientId", u"c"}})
            WriteSetting(store, IniFile::Set, u"me@home.tw", key, v);
        sign = FakeSignIn{};
        sign.signedIn = {u"me@home.tw"};
        sign.moveFails = fails;
        rows.rows = {{u"me", u"me@home.tw"}};
        rows.selected = 0;
        view = RecordingView{};
        m.dialog.EditMode = true;
        openSigning(u"me@home.tw");
        dialog->addressChanged(u"me2@home.tw");
        dialog->confirm();
        ASSERT_TRUE(dialog->closed());
        EXPECT_EQ(value(u"me2@home.tw", u"Auth"), u"1");
        EXPECT_EQ(sign.moves, (std::vector<std::pair<std::u16string, std::u16string>>{{u"me@home.tw", u"me2@home.tw"}}));
        if (fails) {
            ASSERT_EQ(view.boxes.size(), 1u);
            EXPECT_NE(view.boxes[0].first.find(u"重新登入"), std::u16string::npos);
        } else {
            EXPECT_TRUE(view.boxes.empty());
            EXPECT_TRUE(sign.hasTokens(u"me2@home.tw"));
        }
    }
    // Saved under the same address: nothing moves.
    sign = FakeSignIn{};
    sign.signedIn = {u"me2@home.tw"};
    m.dialog.EditMode = true;
    openSigning(u"me2@home.tw");
    dialog->confirm();
    ASSERT_TRUE(dialog->closed());
    EXPECT_TRUE(sign.moves.empty());
}

// The client secret's box: filled from set.ini, sent to the sign-in and
// saved as typed, beside the client ID it belongs to.
TEST_F(AccountLoginTest, TheClientSecretIsLoadedSentAndSavedWithItsClientId) {
    // A new account: typed under its own client ID.
    openSigning();
    fillCustom();
    EXPECT_TRUE(shownEnabled(AccountField::ClientSecret));
    dialog->oauthFieldChanged(AccountField::ClientSecret, u"typed-secret");
    dialog->signIn();
    ASSERT_EQ(sign.calls.size(), 1u);
    EXPECT_EQ(sign.calls[0].OAuthClientId, u"my-client");
    EXPECT_EQ(sign.calls[0].OAuthClientSecret, u"typed-secret");
    dialog->confirm();
    ASSERT_TRUE(dialog->closed());
    EXPECT_EQ(value(u"me@mail.home.tw", u"OAuthClientSecret"), u"typed-secret");

    // Opened again: the box shows it, and an untouched save keeps it.
    view = RecordingView{};
    rows.rows = {{u"me", u"me@mail.home.tw"}};
    rows.selected = 0;
    m.dialog.EditMode = true;
    openSigning(u"me@mail.home.tw");
    EXPECT_EQ(view.shown[static_cast<int>(AccountField::ClientSecret)], u"typed-secret");
    EXPECT_EQ(dialog->text(AccountField::ClientSecret), u"typed-secret");
    EXPECT_TRUE(shownEnabled(AccountField::ClientSecret));
    // Another secret typed over it replaces it; an emptied box removes the key.
    dialog->oauthFieldChanged(AccountField::ClientSecret, u"second-secret");
    dialog->confirm();
    ASSERT_TRUE(dialog->closed());
    EXPECT_EQ(value(u"me@mail.home.tw", u"OAuthClientSecret"), u"second-secret");
    view = RecordingView{};
    m.dialog.EditMode = true;
    openSigning(u"me@mail.home.tw");
    dialog->oauthFieldChanged(AccountField::ClientSecret, u"");
    dialog->confirm();
    ASSERT_TRUE(dialog->closed());
    EXPECT_EQ(value(u"me@mail.home.tw", u"OAuthClientSecret"), u"<missing>");
    EXPECT_EQ(value(u"me@mail.home.tw", u"OAuthClientId"), u"my-client");
}

// A secret belongs to the client ID it was stored or typed with. When the
// ID in its box changes the box empties (the secret never travels to
// another client), and the ID changed back gets it back; without an ID of
// the account's own the box is unusable and nothing is written (the build's
// ID has its own secret).
TEST_F(AccountLoginTest, TheClientSecretStaysWithTheClientIdItBelongsTo) {
    using Edit = std::function<void(AccountDialog&)>;
    auto id = [](const char16_t* text) -> Edit {
        return [text](AccountDialog& d) { d.oauthFieldChanged(AccountField::ClientId, text); };
    };
    // Typed into the box, which holds what was typed (a disabled box takes nothing).
    auto secret = [this](const char16_t* text) -> Edit {
        return [this, text](AccountDialog& d) {
            if (shownEnabled(AccountField::ClientSecret)) view.shown[static_cast<int>(AccountField::ClientSecret)] = text;
            d.oauthFieldChanged(AccountField::ClientSecret, text);
        };
    };
    struct Case {
        const char* what;
        const char16_t* storedId;  // with "own-secret" stored beside it
        std::vector<Edit> edits;
        std::u16string box;    // what the box shows at the end
        std::u16string saved;  // what the sign-in gets and 確定 writes
        bool usable;
    } cases[] = {
        {"untouched", u"own-id", {}, u"own-secret", u"own-secret", true},
        {"blanks around the same ID", u"own-id", {id(u" own-id ")}, u"own-secret", u"own-secret", true},
        {"another ID", u"own-id", {id(u"other-id")}, u"", u"", true},
        {"another ID, then the old one again", u"own-id", {id(u"own-i"), id(u"own-id")}, u"own-secret",
         u"own-secret", true},
        {"the ID cleared", u"own-id", {id(u"")}, u"", u"", false},
        {"the ID cleared, typed again", u"own-id", {id(u""), id(u"own-id")}, u"own-secret", u"own-secret", true},
        {"another ID with its own secret", u"own-id", {id(u"other-id"), secret(u"other-secret")}, u"other-secret",
         u"other-secret", true},
        {"the first ID again after another's secret", u"own-id",
         {id(u"other-id"), secret(u"other-secret"), id(u"own-id")}, u"", u"", true},
        {"a blank secret", u"own-id", {secret(u"  ")}, u"  ", u"", true},
        {"a secret stored without an ID", u"", {}, u"", u"", false},
        {"a secret typed without an ID", u"", {secret(u"stray")}, u"", u"", false},
        {"an ID typed over a stored secret without one", u"", {id(u"new-id")}, u"", u"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        files.remove(u"C:\\P\\set.ini");
        view = RecordingView{};
        sign = FakeSignIn{};
        storeAccount(u"me@gmail.com", u"me@gmail.com", u"", u"pop.gmail.com", u"1");
        for (auto [key, v] : {std::pair{u"Auth", u"1"}, {u"OAuthProvider", u"google"},
                              {u"OAuthClientId", c.storedId}, {u"OAuthClientSecret", u"own-secret"}})
            WriteSetting(store, IniFile::Set, u"me@gmail.com", key, v);
        sign.signedIn = {u"me@gmail.com"};
        rows.rows = {{u"me@gmail.com", u"me@gmail.com"}};
        rows.selected = 0;
        m.dialog.EditMode = true;
        openSigning(u"me@gmail.com");
        for (const Edit& e : c.edits) e(*dialog);
        EXPECT_EQ(dialog->text(AccountField::ClientSecret), c.box);
        EXPECT_EQ(view.shown[static_cast<int>(AccountField::ClientSecret)], c.box);
        EXPECT_EQ(shownEnabled(AccountField::ClientSecret), c.usable);
        dialog->signIn();
        ASSERT_EQ(sign.calls.size(), 1u);
        EXPECT_EQ(sign.calls[0].OAuthClientSecret, c.saved);
        dialog->confirm();
        ASSERT_TRUE(dialog->closed());
        EXPECT_EQ(value(u"me@gmail.com", u"OAuthClientSecret"), c.saved.empty() ? u"<missing>" : c.saved);
    }
}

// The status line never shows the secret, should the provider's answer or
// a step of the sign-in repeat it.
TEST_F(AccountLoginTest, TheStatusLineNeverShowsTheClientSecret) {
    for (SignInOutcome outcome : {SignInOutcome::Failed, SignInOutcome::MailboxFailed}) {
        SCOPED_TRACE(static_cast<int>(outcome));
        view = RecordingView{};
        sign = FakeSignIn{};
        sign.steps = {u"echo s3cr3t-value"};
        sign.answer = SignInReport{outcome, -1, u"invalid_client: s3cr3t-value/s3cr3t-value"};
        std::u16string statusDuring;
        sign.during = [&](const std::function<bool()>&) { statusDuring = view.signInStatus; };
        openSigning();
        fillCustom();
        dialog->oauthFieldChanged(AccountField::ClientSecret, u"s3cr3t-value");
        dialog->signIn();
        ASSERT_EQ(sign.calls.size(), 1u);
        EXPECT_EQ(sign.calls[0].OAuthClientSecret, u"s3cr3t-value");
        EXPECT_EQ(statusDuring, u"echo ***");
        EXPECT_EQ(view.signInStatus.find(u"s3cr3t"), std::u16string::npos) << "shown";
        EXPECT_NE(view.signInStatus.find(u"invalid_client: ***/***"), std::u16string::npos);
    }
}

TEST_F(AccountLoginTest, APasswordAccountWrittenOverAnOAuthSectionLogsInWithThePassword) {
    WriteSetting(store, IniFile::Set, u"me@pop.x.tw", u"Auth", u"1");
    openSigning();
    type(u"me", u"pw", u"pop.x.tw");
    dialog->confirm();
    ASSERT_TRUE(dialog->closed());
    EXPECT_EQ(value(u"me@pop.x.tw", u"Auth"), u"0");
}

}  // namespace
}  // namespace iw::settings
