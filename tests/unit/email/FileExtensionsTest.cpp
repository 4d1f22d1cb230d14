#include "mime/FileExtensions.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(FileExtensionsTest, FirstCharacterMustMatchExactlyTheRestIgnoresCase) {
    EXPECT_EQ(file_extensions::contentTypeFor("pDF"), "application/pdf");
    EXPECT_EQ(file_extensions::contentTypeFor("PDF"), "");
    EXPECT_EQ(file_extensions::contentTypeFor("xyz"), "");
    EXPECT_EQ(file_extensions::contentTypeFor(""), "");
}
