// The password change dialog's presenter over an in-memory registry: the
// cases of 確定 (old password, confirmation compared before trimming, the
// trimmed value stored), the fall-back to the user's hive, and a registry
// that takes no write at all.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "settings/program_state.h"
#include "settings/login_pass_dialog.h"
#include "settings/registry_values.h"
#include "tests/support/fake_registry.h"

namespace iw::settings {
namespace {

using platform::RegistryRoot;

struct RecordingView : LoginPassView {
    std::u16string texts[3];
    std::optional<LoginPassField> selected, focused;
    std::vector<std::u16string> boxes;
    bool closed = false;

    void setText(LoginPassField f, const std::u16string& t) override { texts[static_cast<int>(f)] = t; }
    void selectAll(LoginPassField f) override { selected = f; }
    void focus(LoginPassField f) override { focused = f; }
    void messageBox(const std::u16string& t, const std::u16string&) override { boxes.push_back(t); }
    void close() override { closed = true; }
};

// A registry that refuses every write, in either hive.
struct ReadOnlyRegistry : test::FakeRegistry {
    platform::RegistryResult writeString(RegistryRoot, const std::u16string&, const std::u16string&,
                                         const std::u16string&) override {
        return platform::RegistryResult::AccessDenied;
    }
};

TEST(LoginPassDialog, OkChangesThePasswordOnlyWhenOldIsRightAndNewTwiceTheSame) {
    const struct {
        std::u16string current, old, fresh, again;
        std::optional<std::u16string> stored;  // nullopt: refused
    } cases[] = {
        {u"", u"", u"abc", u"abc", u"abc"},           // no password yet: old box left empty
        {u"", u"x", u"abc", u"abc", std::nullopt},    // ... and not otherwise
        {u"Key", u"Key", u" new pw ", u" new pw ", u"new pw"},  // stored trimmed
        {u"Key", u"Key", u" new", u"new", std::nullopt},        // compared before trimming
        {u"Key", u"key", u"new", u"new", std::nullopt},         // letter case counts
        {u"Key", u"Key ", u"new", u"new", std::nullopt},
        {u"Key", u"Key", u"new", u"New", std::nullopt},
        {u"Key", u"Key", u"", u"", u""},              // both empty: the lock is removed
        {u"Key", u"Key", u"   ", u"   ", u""},
        {u"Key", u"Key", u"網址密碼", u"網址密碼", u"網址密碼"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fresh.begin(), c.fresh.end()));
        test::FakeRegistry reg;
        RegistryValues values(reg);
        if (!c.current.empty()) values.WriteRegString(u"PassWord", c.current);
        settings::ProgramState m;
        m.dialog.SettingsPassword = c.current;
        RecordingView view;
        LoginPassDialog d(values, m, view);
        d.oldPasswordChanged(c.old);
        d.newPasswordChanged(c.fresh);
        d.repeatedPasswordChanged(c.again);
        d.confirm();
        EXPECT_TRUE(view.boxes.empty());  // refusals are silent
        if (c.stored) {
            EXPECT_TRUE(view.closed);
            EXPECT_EQ(m.dialog.SettingsPassword, *c.stored);
            EXPECT_EQ(reg.readString(RegistryRoot::LocalMachine, u"Software\\Inkwarden", u"PassWord"), *c.stored);
        } else {
            EXPECT_FALSE(view.closed);
            EXPECT_FALSE(d.closed());
            EXPECT_EQ(m.dialog.SettingsPassword, c.current);
            EXPECT_EQ(values.ReadRegString(u"PassWord"), c.current);
            // The confirmation is cleared, the new password selected for retyping.
            EXPECT_EQ(view.texts[static_cast<int>(LoginPassField::TxtPassword)], u"");
            EXPECT_EQ(d.text(LoginPassField::TxtPassword), u"");
            EXPECT_EQ(d.text(LoginPassField::NewPassword), c.fresh);
            EXPECT_EQ(view.selected, LoginPassField::NewPassword);
            EXPECT_EQ(view.focused, LoginPassField::NewPassword);
        }
    }
}

TEST(LoginPassDialog, RetypedConfirmationIsAcceptedAfterARefusal) {
    test::FakeRegistry reg;
    RegistryValues values(reg);
    settings::ProgramState m;
    RecordingView view;
    LoginPassDialog d(values, m, view);
    d.newPasswordChanged(u"abc");
    d.repeatedPasswordChanged(u"abd");
    d.confirm();
    ASSERT_FALSE(view.closed);
    d.repeatedPasswordChanged(u"abc");
    d.confirm();
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(values.ReadRegString(u"PassWord"), u"abc");
}

TEST(LoginPassDialog, RefusedMachineWriteGoesToTheUserAndNoWriteAtAllIsSaid) {
    test::FakeRegistry reg;
    reg.setRefuseLocalMachineWrites(true);
    RegistryValues values(reg);
    settings::ProgramState m;
    RecordingView view;
    LoginPassDialog d(values, m, view);
    d.newPasswordChanged(u"pw");
    d.repeatedPasswordChanged(u"pw");
    d.confirm();
    EXPECT_TRUE(view.closed);
    EXPECT_TRUE(view.boxes.empty());
    EXPECT_EQ(reg.readString(RegistryRoot::CurrentUser, u"Software\\Inkwarden", u"PassWord"), u"pw");
    EXPECT_EQ(values.ReadRegString(u"PassWord"), u"pw");

    ReadOnlyRegistry none;
    RegistryValues nowhere(none);
    settings::ProgramState m2;
    RecordingView view2;
    LoginPassDialog d2(nowhere, m2, view2);
    d2.newPasswordChanged(u"pw");
    d2.repeatedPasswordChanged(u"pw");
    d2.confirm();
    // In memory for this run, and the user is told it will not last.
    EXPECT_EQ(m2.dialog.SettingsPassword, u"pw");
    ASSERT_EQ(view2.boxes.size(), 1u);
    EXPECT_TRUE(view2.closed);
}

TEST(LoginPassDialog, CancelChangesNothing) {
    test::FakeRegistry reg;
    RegistryValues values(reg);
    values.WriteRegString(u"PassWord", u"old");
    settings::ProgramState m;
    m.dialog.SettingsPassword = u"old";
    RecordingView view;
    LoginPassDialog d(values, m, view);
    d.oldPasswordChanged(u"old");
    d.newPasswordChanged(u"new");
    d.repeatedPasswordChanged(u"new");
    d.cancel();
    d.confirm();  // after the close: nothing
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(m.dialog.SettingsPassword, u"old");
    EXPECT_EQ(values.ReadRegString(u"PassWord"), u"old");
}

}  // namespace
}  // namespace iw::settings
