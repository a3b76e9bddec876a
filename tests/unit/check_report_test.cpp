// The windowless check of the console front end: tip, count, and no side
// effects on set.ini or the filter window.
#include <gtest/gtest.h>

#include "app/check_report.h"
#include "tests/support/tray_rig.h"

namespace iw::app {
namespace {

TEST(CheckReport, TwoAccountsGiveTipAndCount) {
    test::TrayRig rig;
    rig.addAccount(u"a@x", u"amy", u"pw", u"127.0.0.1:27117");
    rig.addAccount(u"b@x", u"bob", u"pw", u"127.0.0.1:27118");
    rig.network.addPop3Peer("127.0.0.1", 27117, test::MakeTrayPop3Peer("amy", "pw", 2));
    rig.network.addPop3Peer("127.0.0.1", 27118, test::MakeTrayPop3Peer("bob", "pw", 3));
    rig.set(u"tester", u"Value", u"0");  // threshold 1: the tray would open the filter window
    const CheckReport r = RunCheckReport(rig.platform, rig.store, rig.state);
    EXPECT_EQ(r.accounts, 2u);
    EXPECT_EQ(r.count, 5);
    EXPECT_EQ(r.tip, u"已連線0分01秒\r\n您有5封新郵件");
    EXPECT_EQ(rig.store.read(settings::IniFile::Set, u"tester", u"Open-mail", u"none"), u"none");
    EXPECT_FALSE(rig.state.run.CheckBusy);
    EXPECT_FALSE(rig.state.run.AutoOpened);
}

TEST(CheckReport, FailureShowsInTip) {
    test::TrayRig rig;
    rig.addAccount(u"a@x", u"amy", u"pw", u"127.0.0.1:27119");
    test::TrayPop3Peer silent;
    silent.silent = true;
    rig.network.addPop3Peer("127.0.0.1", 27119, silent);
    const CheckReport r = RunCheckReport(rig.platform, rig.store, rig.state);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.status, u"amy未連上伺服器");
    EXPECT_TRUE(r.tip.starts_with(u"已連線0分4") || r.tip.starts_with(u"已連線0分5"));  // about 45 seconds
    EXPECT_TRUE(r.tip.ends_with(u"\r\namy未連上伺服器"));
}

TEST(CheckReport, EmptyRoster) {
    test::TrayRig rig;
    const CheckReport r = RunCheckReport(rig.platform, rig.store, rig.state);
    EXPECT_EQ(r.accounts, 0u);
    EXPECT_EQ(r.tip, u"已連線0分01秒");
}

}  // namespace
}  // namespace iw::app
