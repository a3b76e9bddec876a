// Registry values: the first-run marker, strings, the Run value, and the
// HKEY_CURRENT_USER fallback when HKEY_LOCAL_MACHINE refuses writes.
#include <gtest/gtest.h>

#include "settings/registry_values.h"
#include "tests/support/fake_registry.h"

namespace iw::settings {
namespace {

using platform::RegistryRoot;

class RegistryValuesTest : public ::testing::TestWithParam<bool> {
protected:
    test::FakeRegistry reg;
    RegistryValues values{reg};
    bool refused() const { return GetParam(); }
    RegistryRoot writtenRoot() const { return refused() ? RegistryRoot::CurrentUser : RegistryRoot::LocalMachine; }
    void SetUp() override { reg.setRefuseLocalMachineWrites(refused()); }
};

TEST_P(RegistryValuesTest, FirstRunMarker) {
    EXPECT_EQ(values.ReadFirstRunNumber(), 0u);
    ASSERT_TRUE(values.WriteFirstRunDone());
    EXPECT_EQ(values.ReadFirstRunNumber(), 1u);
    EXPECT_EQ(reg.readDword(writtenRoot(), kProgramKey, u""), 1u);
}

TEST_P(RegistryValuesTest, StringsRoundTripWithoutCut) {
    const std::u16string longGuid(300, u'g');
    EXPECT_EQ(values.ReadRegString(u"PassWord"), u"");
    ASSERT_TRUE(values.WriteRegString(u"PassWord", u"secret"));
    ASSERT_TRUE(values.WriteRegString(u"ShowIE", longGuid));
    EXPECT_EQ(values.ReadRegString(u"password"), u"secret");
    EXPECT_EQ(values.ReadRegString(u"ShowIE"), longGuid);
    EXPECT_TRUE(reg.has(writtenRoot(), kProgramKey, u"PassWord"));
    ASSERT_TRUE(values.WriteRegString(u"PassWord", u""));
    EXPECT_EQ(values.ReadRegString(u"PassWord"), u"");
}

TEST_P(RegistryValuesTest, RunAtLogon) {
    EXPECT_FALSE(values.RunAtLogon());
    ASSERT_TRUE(values.SetRunAtLogon(true, u"C:\\Prog\\Inkwarden.exe"));
    EXPECT_TRUE(values.RunAtLogon());
    EXPECT_EQ(reg.readString(writtenRoot(), kRunKey, kRunValueName), u"C:\\Prog\\Inkwarden.exe");
    ASSERT_TRUE(values.SetRunAtLogon(false, u""));
    EXPECT_FALSE(values.RunAtLogon());
}

INSTANTIATE_TEST_SUITE_P(MachineWritable, RegistryValuesTest, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(MachineRefused, RegistryValuesTest, ::testing::Values(true));

TEST(RegistryFallback, ValueWrittenByAnAdministratorCanStillBeChanged) {
    test::FakeRegistry reg;
    RegistryValues values{reg};
    ASSERT_TRUE(values.WriteRegString(u"PassWord", u"old"));  // HKLM, writable
    reg.setRefuseLocalMachineWrites(true);
    ASSERT_TRUE(values.WriteRegString(u"PassWord", u"new"));  // falls back to HKCU
    EXPECT_EQ(values.ReadRegString(u"PassWord"), u"new");
    reg.setRefuseLocalMachineWrites(false);
    ASSERT_TRUE(values.WriteRegString(u"PassWord", u"admin"));  // HKLM again; the user's copy goes
    EXPECT_EQ(values.ReadRegString(u"PassWord"), u"admin");
    EXPECT_FALSE(reg.has(RegistryRoot::CurrentUser, kProgramKey, u"PassWord"));
}

TEST(RegistryFallback, ReadsHklmWhenOnlyThereAndIgnoresWrongTypes) {
    test::FakeRegistry reg;
    RegistryValues values{reg};
    reg.writeDword(RegistryRoot::LocalMachine, kProgramKey, u"", 1);
    reg.writeString(RegistryRoot::LocalMachine, kProgramKey, u"ShowIE", std::u16string(u"{ab}\0junk", 9));
    EXPECT_EQ(values.ReadFirstRunNumber(), 1u);
    EXPECT_EQ(values.ReadRegString(u"ShowIE"), u"{ab}");  // cut at the first NUL
    reg.putBinary(RegistryRoot::LocalMachine, kProgramKey, u"", "\x01");
    EXPECT_EQ(values.ReadFirstRunNumber(), 0u);  // not 4 bytes: first run
    reg.writeDword(RegistryRoot::LocalMachine, kProgramKey, u"", 2);
    EXPECT_EQ(values.ReadFirstRunNumber(), 2u);
}

TEST(RegistryFallback, RunValueLeftUnderHklmIsReportedAsNotRemoved) {
    test::FakeRegistry reg;
    RegistryValues values{reg};
    ASSERT_TRUE(values.SetRunAtLogon(true, u"C:\\P\\Inkwarden.exe"));
    reg.setRefuseLocalMachineWrites(true);
    EXPECT_FALSE(values.SetRunAtLogon(false, u""));
    EXPECT_TRUE(values.RunAtLogon());
    // Nothing under HKLM: turning it off as a normal user succeeds.
    test::FakeRegistry clean;
    RegistryValues user{clean};
    clean.setRefuseLocalMachineWrites(true);
    ASSERT_TRUE(user.SetRunAtLogon(true, u"C:\\P\\Inkwarden.exe"));
    EXPECT_TRUE(user.SetRunAtLogon(false, u""));
    EXPECT_FALSE(user.RunAtLogon());
}

}  // namespace
}  // namespace iw::settings
