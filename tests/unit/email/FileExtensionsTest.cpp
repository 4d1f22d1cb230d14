#include "mime/FileExtensions.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(FileExtensionsTest, TableHasItsFullSizeAndCommonTypes) {
    EXPECT_EQ(file_extensions::tableSize(), 194u);
    EXPECT_EQ(file_extensions::contentTypeFor("pdf"), "application/pdf");
    EXPECT_EQ(file_extensions::contentTypeFor("jpg"), "image/jpeg");
    EXPECT_EQ(file_extensions::contentTypeFor("png"), "image/png");
    EXPECT_EQ(file_extensions::contentTypeFor("html"), "text/html");
    EXPECT_EQ(file_extensions::contentTypeFor("txt"), "text/plain");
    EXPECT_EQ(file_extensions::contentTypeFor("zip"), "application/zip");
    EXPECT_EQ(file_extensions::contentTypeFor("mht"), "message/rfc822");
    EXPECT_EQ(file_extensions::contentTypeFor("*"), "application/octet-stream");
}

TEST(FileExtensionsTest, RegisteredTypesAreSpelledInFull) {
    const std::pair<const char*, const char*> cases[] = {
        {"sh", "application/x-sh"},
        {"shar", "application/x-shar"},
        {"sit", "application/x-stuffit"},
        {"src", "application/x-wais-source"},
        {"pko", "application/vnd.ms-pkipko"},
        {"jfif", "image/pjpeg"},
        {"tsv", "text/tab-separated-values"},
        {"movie", "video/x-sgi-movie"},
        {"acx", "application/internet-property-stream"},
        {"ins", "application/x-internet-signup"},
        {"isp", "application/x-internet-signup"},
    };
    for (const auto& [ext, type] : cases)
        EXPECT_EQ(file_extensions::contentTypeFor(ext), type) << ext;
}

TEST(FileExtensionsTest, FirstEntryWinsForRepeatedExtensions) {
    EXPECT_EQ(file_extensions::contentTypeFor("cdf"), "application/x-cdf");
    EXPECT_EQ(file_extensions::contentTypeFor("p7m"), "application/x-pkcs7-mime");
    EXPECT_EQ(file_extensions::contentTypeFor("p7c"), "application/x-pkcs7-mime");
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
