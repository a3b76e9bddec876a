// The build's real registry, desktop, shell and resolver: the shapes other
// code relies on (GUID form, program folder, instance claim, lookups).
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "platform/native.h"

namespace {

using namespace iw::platform;

bool isGuid(const std::u16string& g) {
    if (g.size() != 38 || g.front() != u'{' || g.back() != u'}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const char16_t c = g[i];
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (c != u'-') return false;
        } else if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) {
            return false;
        }
    }
    return true;
}

TEST(NativeShell, GuidsHaveRegistryFormAndDiffer) {
    auto shell = createShell();
    std::set<std::u16string> seen;
    for (int i = 0; i < 20; ++i) {
        const std::u16string g = shell->newGuid();
        EXPECT_TRUE(isGuid(g)) << std::string(g.begin(), g.end());
        seen.insert(g);
    }
    EXPECT_EQ(seen.size(), 20u);
}

TEST(NativeShell, ProgramFolderAndUser) {
    auto shell = createShell();
    const std::u16string folder = shell->programFolder();
    ASSERT_FALSE(folder.empty());
    const bool driveRoot = folder.size() == 3 && folder[1] == u':';
    if (folder.size() > 1 && !driveRoot) {
        EXPECT_NE(folder.back(), u'/');
        EXPECT_NE(folder.back(), u'\\');
    }
    EXPECT_FALSE(shell->userName().empty());
}

TEST(NativeShell, InstanceClaimIsHeldByTheFirstCaller) {
    auto first = createShell();
    auto second = createShell();
    // The test executable may not be running twice; the first claim wins.
    EXPECT_FALSE(first->previousInstanceRunning());
    EXPECT_FALSE(first->previousInstanceRunning()) << "asking again keeps our own claim";
    EXPECT_TRUE(second->previousInstanceRunning());
}

TEST(NativeResolver, LooksUpDottedAddressesAndNames) {
    auto loop = createEventLoop();
    auto net = createNetwork(*loop);
    ResolveResult r = net->resolve("127.0.0.1");
    EXPECT_TRUE(r.found);
    EXPECT_TRUE(r.ipv4);
    EXPECT_EQ(r.address, "127.0.0.1");
    r = net->resolve("no-such-host.invalid");
    EXPECT_FALSE(r.found);
    EXPECT_FALSE(r.ipv4);
    EXPECT_EQ(r.address, "");
    EXPECT_FALSE(net->resolve("").found);
}

TEST(NativeClock, AgreesWithItself) {
    auto clock = createSystemClock();
    const LocalDateTime t = clock->now();
    EXPECT_GE(t.year, 2000);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    const double s = clock->secondsSinceMidnight();
    EXPECT_GE(s, 0.0);
    EXPECT_LT(s, 86400.0);
    EXPECT_GE(clock->utcOffsetMinutes(), -14 * 60);
    EXPECT_LE(clock->utcOffsetMinutes(), 14 * 60);
    EXPECT_FALSE(clock->setLocalTime(LocalDateTime{2024, 2, 30, 0, 0, 0, 0})) << "not a date";
}

TEST(NativeRegistry, PosixRegistryStartsEmptyAndKeepsValues) {
#ifndef _WIN32
    auto reg = createRegistry();
    const std::u16string key = u"Software\\Inkwarden";
    EXPECT_FALSE(reg->readDword(RegistryRoot::LocalMachine, key, u"").has_value());
    EXPECT_EQ(reg->writeDword(RegistryRoot::LocalMachine, key, u"", 1), RegistryResult::Ok);
    EXPECT_EQ(reg->readDword(RegistryRoot::LocalMachine, u"software\\INKWARDEN", u""), 1u);
    EXPECT_FALSE(reg->readString(RegistryRoot::LocalMachine, key, u"").has_value()) << "wrong type";
    EXPECT_EQ(reg->writeString(RegistryRoot::CurrentUser, key + u"\\Sub", u"PassWord", u"x"), RegistryResult::Ok);
    EXPECT_EQ(reg->deleteValue(RegistryRoot::CurrentUser, key + u"\\Sub", u"missing"), RegistryResult::NotFound);
    EXPECT_EQ(reg->deleteKey(RegistryRoot::CurrentUser, key), RegistryResult::Ok);
    EXPECT_FALSE(reg->readString(RegistryRoot::CurrentUser, key + u"\\Sub", u"PassWord").has_value());
    EXPECT_EQ(reg->readDword(RegistryRoot::LocalMachine, key, u""), 1u) << "other roots untouched";
#else
    GTEST_SKIP() << "the Windows build uses the system registry";
#endif
}

TEST(NativeDesktop, PosixDesktopHasNoWindows) {
#ifndef _WIN32
    auto desktop = createDesktop();
    EXPECT_TRUE(desktop->topLevelWindows().empty());
    EXPECT_EQ(desktop->findTopLevel(u"IEFrame"), 0u);
    EXPECT_EQ(desktop->screen(), (WindowRect{0, 0, 1024, 768}));
#else
    GTEST_SKIP() << "the Windows build sees the real desktop";
#endif
}

}  // namespace
