// The browser toolbar button through the tray menu's "整合至 IE 視窗": the
// key and its six values, "ShowIE" in the registry and set.ini, on, off and
// on again, the user's hive when the machine's is refused, and the guards
// that keep other programs' buttons.
#include <gtest/gtest.h>

#include "app/browser_part.h"
#include "browser/toolbar_button.h"
#include "tests/support/tray_rig.h"

namespace iw::browser {
namespace {

using platform::RegistryRoot;

const std::u16string kProgramKey = u"Software\\Inkwarden";

std::u16string key(const std::u16string& guid) { return std::u16string(kExtensionsKey) + u"\\" + guid; }

class ToolbarButtonTest : public ::testing::Test {
protected:
    test::TrayRig rig;
    std::unique_ptr<app::BrowserPart> part;
    std::unique_ptr<app::MasterPresenter> master;

    void load(const std::u16string& appPath = u"C:\\Program Files\\Inkwarden\\") {
        rig.state.identity.AppPath = appPath;
        part = std::make_unique<app::BrowserPart>(rig.platform, rig.store, rig.state);
        master = std::make_unique<app::MasterPresenter>(rig.platform, rig.store, rig.state, rig.view, &rig.opener,
                                                        part->hooks([this] { return master.get(); }));
        master->load();
    }
    void click() { master->menuCommand(app::MenuCommand::Ie); }
    bool mark() { return master->findItem(app::MenuCommand::Ie)->checked; }
    std::u16string showIe() { return rig.store.read(settings::IniFile::Set, u"ShowIE", u"Value", u"(none)"); }
    std::optional<std::u16string> value(RegistryRoot root, const std::u16string& guid, const std::u16string& name) {
        return rig.registry.readString(root, key(guid), name);
    }
    std::u16string storedGuid(RegistryRoot root) {
        return rig.registry.readString(root, kProgramKey, kShowIeValue).value_or(u"");
    }
};

TEST_F(ToolbarButtonTest, OnOffOnLeavesOneKeyWithANewName) {
    load();
    click();
    EXPECT_TRUE(mark());
    EXPECT_EQ(showIe(), u"-1");
    const std::u16string first = storedGuid(RegistryRoot::LocalMachine);
    ASSERT_TRUE(IsGuidText(first)) << "ShowIE holds the new key's name";
    const struct {
        const char16_t* name;
        std::u16string value;
    } values[] = {
        {u"ButtonText", u"Inkwarden"},
        {u"CLSID", u"{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"},
        {u"Default Visible", u"Yes"},
        {u"Exec", u"C:\\Program Files\\Inkwarden\\Inkwarden.exe"},
        {u"HotIcon", u"C:\\Program Files\\Inkwarden\\IE1.ico"},
        {u"Icon", u"C:\\Program Files\\Inkwarden\\IE2.ico"},
    };
    for (const auto& v : values) EXPECT_EQ(value(RegistryRoot::LocalMachine, first, v.name), v.value);

    click();
    EXPECT_FALSE(mark());
    EXPECT_EQ(showIe(), u"0");
    EXPECT_FALSE(value(RegistryRoot::LocalMachine, first, u"CLSID"));
    EXPECT_EQ(storedGuid(RegistryRoot::LocalMachine), first);  // left as it was

    click();
    const std::u16string second = storedGuid(RegistryRoot::LocalMachine);
    EXPECT_NE(second, first);
    EXPECT_TRUE(value(RegistryRoot::LocalMachine, second, u"CLSID"));
    EXPECT_FALSE(value(RegistryRoot::LocalMachine, first, u"CLSID"));
    EXPECT_EQ(showIe(), u"-1");
}

TEST_F(ToolbarButtonTest, DriveRootProgramFolder) {
    load(u"D:\\");
    click();
    const std::u16string g = storedGuid(RegistryRoot::LocalMachine);
    EXPECT_EQ(value(RegistryRoot::LocalMachine, g, u"Exec"), u"D:\\Inkwarden.exe");
    EXPECT_EQ(value(RegistryRoot::LocalMachine, g, u"Icon"), u"D:\\IE2.ico");
}

TEST_F(ToolbarButtonTest, NormalUserGetsTheButtonInTheirOwnHive) {
    rig.registry.setRefuseLocalMachineWrites(true);
    load();
    click();
    const std::u16string g = storedGuid(RegistryRoot::CurrentUser);
    ASSERT_TRUE(IsGuidText(g));
    EXPECT_EQ(value(RegistryRoot::CurrentUser, g, u"ButtonText"), u"Inkwarden");
    EXPECT_FALSE(value(RegistryRoot::LocalMachine, g, u"ButtonText"));
    click();
    EXPECT_FALSE(value(RegistryRoot::CurrentUser, g, u"ButtonText"));
    EXPECT_EQ(showIe(), u"0");
}

TEST_F(ToolbarButtonTest, SwitchOffWithoutAKeyOfOursKeepsOtherButtons) {
    // Another program's button, and a "ShowIE" that is missing, empty or
    // not a key name of ours: nothing under the extensions key is touched.
    const std::u16string other = u"{11111111-2222-3333-4444-555555555555}";
    rig.registry.writeString(RegistryRoot::LocalMachine, key(other), u"ButtonText", u"Other");
    for (const std::optional<std::u16string>& stored :
         {std::optional<std::u16string>(), std::optional<std::u16string>(u""),
          std::optional<std::u16string>(u"..\\..\\Windows"), std::optional<std::u16string>(u"{not-a-guid}")}) {
        if (stored) rig.registry.writeString(RegistryRoot::LocalMachine, kProgramKey, kShowIeValue, *stored);
        ToolbarButton button(rig.registry, rig.shell, u"C:\\");
        EXPECT_EQ(button.switchButton(false), ButtonResult::NothingToRemove);
        EXPECT_EQ(rig.registry.readString(RegistryRoot::LocalMachine, key(other), u"ButtonText"), u"Other");
    }
}

TEST_F(ToolbarButtonTest, SwitchOnRemovesTheKeyShowIeStillNames) {
    // set.ini lost its mark while the button stayed: switching on again must
    // not make a second button.
    load();
    click();
    const std::u16string first = storedGuid(RegistryRoot::LocalMachine);
    rig.store.deleteSection(settings::IniFile::Set, u"ShowIE");
    master.reset();
    load();
    EXPECT_FALSE(mark());
    click();
    EXPECT_FALSE(value(RegistryRoot::LocalMachine, first, u"CLSID"));
    EXPECT_TRUE(value(RegistryRoot::LocalMachine, storedGuid(RegistryRoot::LocalMachine), u"CLSID"));
}

TEST(NewGuidString, RegistryFormUpperCase) {
    struct LowerShell : test::FakeShell {
        std::u16string answer;
        std::u16string newGuid() override { return answer; }
    } shell;
    shell.answer = u"{0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d}";
    EXPECT_EQ(NewGuidString(shell), u"{0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D}");
    for (const char16_t* bad : {u"", u"{0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5}", u"0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d"}) {
        shell.answer = bad;
        EXPECT_EQ(NewGuidString(shell), u"");
    }
    // With no GUID there is no key, and nothing is recorded.
    test::FakeRegistry registry;
    shell.answer = u"";
    ToolbarButton button(registry, shell, u"C:\\");
    EXPECT_EQ(button.switchButton(true), ButtonResult::Failed);
    EXPECT_FALSE(registry.readString(RegistryRoot::LocalMachine, kProgramKey, kShowIeValue));
}

}  // namespace
}  // namespace iw::browser
