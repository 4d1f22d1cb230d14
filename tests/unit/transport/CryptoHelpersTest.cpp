#include "support/Bytes.h"
#include "transport/CramMD5.h"
#include "transport/HmacMD5.h"
#include "transport/SaslBase64.h"

#include <gtest/gtest.h>

#include <string>

using namespace norvane;
using namespace norvane::test;

TEST(HmacMD5Test, MatchesRfc2202Vectors) {
    const struct {
        std::string key, data;
        const char* mac;
    } cases[] = {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        // A key longer than the block is replaced by its digest.
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hexOf(HmacMD5::compute(bytesOf(c.key), bytesOf(c.data))), c.mac) << c.data;
}

TEST(CramMD5Test, MatchesRfc2195Example) {
    EXPECT_EQ(
        CramMD5::response("tim", "tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
        "tim b913a602c7eda7a495b4e6e7334d3890");
}

TEST(CramMD5Test, LongUserNameStaysOneBase64Line) {
    std::string user(300, 'u');
    std::string line = sasl::base64Encode(CramMD5::response(user, "pw", "<c@x>"));
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(line.size(), 4 * ((300 + 1 + 32 + 2) / 3));
}

TEST(SaslBase64Test, RoundTripsAndToleratesMissingPadding) {
    EXPECT_EQ(sasl::base64Encode(std::string_view("alice\0alice\0pw", 14)), "YWxpY2UAYWxpY2UAcHc=");
    auto d = sasl::base64Decode(" UGFzc3dvcmQ6\r\n");
    ASSERT_TRUE(d);
    EXPECT_EQ(std::string(d->begin(), d->end()), "Password:");
    auto unpadded = sasl::base64Decode("YQ");
    ASSERT_TRUE(unpadded);
    EXPECT_EQ(std::string(unpadded->begin(), unpadded->end()), "a");
    EXPECT_FALSE(sasl::base64Decode("not base64!"));
    auto empty = sasl::base64Decode("");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}
