// A first check that the build's code page converts Big5 both ways.
#include <gtest/gtest.h>

#include "platform/native.h"

TEST(CodePageSmoke, Big5RoundTrip) {
    auto cp = iw::platform::createCodePage();
    const std::string big5 = "\xA4\xA4\xA4\xE5";  // 中文
    EXPECT_EQ(cp->toUtf16(iw::platform::kBig5, big5), u"中文");
    EXPECT_EQ(cp->fromUtf16(iw::platform::kBig5, u"中文"), big5);
}
