#include "charset/Uu.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(UuTest, DecodesTheBeginBlockOrFailsLeavingTheOutputAlone) {
    const struct {
        std::string text;
        bool ok;
        std::string data; // what a success decodes to
        const char* fileName;
    } cases[] = {
        {"preamble\nbegin 644 cat.txt\n#0V%T\n`\nend\n", true, "Cat", "cat.txt"},
        // CR LF, an upper-case begin and a name with spaces.
        {"BEGIN 600  my file.txt\r\nB2&5L;&\\L('5U96YC;V1E9\"!W;W)L9\"$@,#$R,S0U-C<X.0  \r\n"
         " \r\nend\r\n",
         true, "Hello, uuencoded world! 0123456789", "my file.txt"},
        // 'M' announces 45 bytes while the line holds one group: transports strip trailing
        // spaces, so the rest decodes as zero bits.
        {"begin 644 x\nM0V%T\n`\nend\n", true, "Cat" + std::string(42, '\0'), "x"},
        // An end line without the terminator line stops the data, and so does the end.
        {"begin 644 x\n#0V%T\nend\n#0V%T\n", true, "Cat", "x"},
        {"begin 644 y\n#0V%T", true, "Cat", "y"},
        // Blank lines inside the data are skipped.
        {"begin 644 x\n\n#0V%T\r\n\r\n#0V%T\n`\n", true, "CatCat", "x"},
        {"no uuencoded data here\n#0V%T\n", false, "", ""},
        {"begin abc name\n#0V%T\n", false, "", ""},
        {"begin 644\n#0V%T\n", false, "", ""},
        {"begin 644   \n#0V%T\n", false, "", ""},
        {"xbegin 644 a\n", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Uu uu;
        DataBuffer out(std::string_view(c.ok ? "" : "kept"));
        EXPECT_EQ(uu.uuDecode(c.text, out), c.ok);
        EXPECT_EQ(out.toString(), c.ok ? c.data : "kept");
        EXPECT_EQ(uu.fileName(), c.fileName);
    }
}
