#include "mime/FileExtensions.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(FileExtensionsTest, TypesAreSpelledInFullAndTheFirstOfRepeatedEntriesWins) {
    EXPECT_EQ(file_extensions::tableSize(), 194u);
    const std::pair<const char*, const char*> cases[] = {
        {"pdf", "application/pdf"},
        {"jpg", "image/jpeg"},
        {"html", "text/html"},
        {"mht", "message/rfc822"},
        {"*", "application/octet-stream"},
        {"sh", "application/x-sh"},
        {"sit", "application/x-stuffit"},
        {"src", "application/x-wais-source"},
        {"pko", "application/vnd.ms-pkipko"},
        {"jfif", "image/pjpeg"},
        {"tsv", "text/tab-separated-values"},
        {"movie", "video/x-sgi-movie"},
        {"acx", "application/internet-property-stream"},
        {"isp", "application/x-internet-signup"},
        {"cdf", "application/x-cdf"},
        {"p7m", "application/x-pkcs7-mime"},
        {"p7c", "application/x-pkcs7-mime"},
    };
    for (const auto& [ext, type] : cases)
        EXPECT_EQ(file_extensions::contentTypeFor(ext), type) << ext;
}

TEST(FileExtensionsTest, FirstCharacterMustMatchExactlyTheRestIgnoresCase) {
    EXPECT_EQ(file_extensions::contentTypeFor("pDF"), "application/pdf");
    EXPECT_EQ(file_extensions::contentTypeFor("PDF"), "");
    EXPECT_EQ(file_extensions::contentTypeFor("xyz"), "");
    EXPECT_EQ(file_extensions::contentTypeFor(""), "");
}

TEST(FileExtensionsTest, ExtensionIsTheLowerCasedTextAfterTheLastDotOfTheName) {
    EXPECT_EQ(file_extensions::extensionOf("REPORT.PDF"), "pdf");
    EXPECT_EQ(file_extensions::extensionOf("archive.tar.GZ"), "gz");
    EXPECT_EQ(file_extensions::extensionOf("/home/a.b/README"), "");
    EXPECT_EQ(file_extensions::extensionOf("C:\\dir.x\\file"), "");
    EXPECT_EQ(file_extensions::extensionOf("noext"), "");
    EXPECT_EQ(file_extensions::extensionOf("trailing."), "");
}
