#include "charset/CharsetRegistration.h"
#include "common/Platform.h"
#include "common/XString.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(CharsetRegistrationTest, XStringConvertsThroughTheEngineOnceRegistered) {
    registerCharsetConverter();
    registerCharsetConverter(); // idempotent
    platform::setAnsiCodePage(1252);
    XString s("caf\xC3\xA9 \xE2\x82\xAC"); // "café €"
    EXPECT_EQ(s.getAnsi(), "caf\xE9 \x80");
    EXPECT_TRUE(s.isAnsiLossless());

    XString back;
    back.setFromAnsi("na\xEFve \x80");
    EXPECT_EQ(back.getUtf8(), "na\xC3\xAFve \xE2\x82\xAC");

    XString lossy("\xE4\xB8\xAD"); // a CJK ideograph has no windows-1252 form
    EXPECT_EQ(lossy.getAnsi(), "");
    EXPECT_FALSE(lossy.isAnsiLossless());
    platform::setAnsiCodePage(65001);
}
