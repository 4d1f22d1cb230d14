// The mail manager's TLS settings: their defaults, port 465, and refused values.

#include "facade/ClsMailMan.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(ClsMailManTlsTest, DefaultsPort465AndRefusedValues) {
    ClsMailMan mm;
    EXPECT_EQ(mm.get_SmtpTls(), "starttls-if-offered");
    EXPECT_EQ(mm.get_PopTls(), "starttls-if-offered");
    EXPECT_FALSE(mm.get_AllowPlainAuthWithoutTls());
    mm.put_SmtpPort(465);
    EXPECT_EQ(mm.get_SmtpTls(), "implicit");
    mm.put_SmtpTls("NONE");
    EXPECT_EQ(mm.get_SmtpTls(), "none"); // a mode the caller chose beats the port
    mm.put_SmtpTls("tls-please");
    EXPECT_EQ(mm.get_SmtpTls(), "none");
    EXPECT_NE(mm.get_LastErrorText().find("Unknown TLS mode"), std::string::npos);
    mm.put_PopSsl(true);
    EXPECT_EQ(mm.get_PopTls(), "implicit");
    mm.put_PopTls("starttls-required");
    EXPECT_FALSE(mm.get_PopSsl());
    EXPECT_EQ(mm.get_PopTls(), "starttls-required");
}
