#include "texts/text_encoding.h"

#include <gtest/gtest.h>

namespace tessaly {
namespace {

TEST(TextEncoding, ValidUtf8PassesUnchanged)
{
    EXPECT_EQ(textToUtf8("plain"), "plain");
    EXPECT_EQ(textToUtf8("Gr\xC3\xB6\xC3\x9F"
                         "e"),
              "Gr\xC3\xB6\xC3\x9F"
              "e");
    EXPECT_EQ(textToUtf8("\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB"), "\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB");
    EXPECT_EQ(textToUtf8("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
}

TEST(TextEncoding, OtherBytesAreWindows1252)
{
    EXPECT_EQ(textToUtf8("Gr\xF6\xDF"
                         "e"),
              "Gr\xC3\xB6\xC3\x9F"
              "e");
    EXPECT_EQ(textToUtf8("\x80 \x93x\x94 \x9F"), "\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D \xC5\xB8");
    EXPECT_EQ(textToUtf8("\x81"), "\xC2\x81");  // undefined in the code page: kept as C1
    // Malformed UTF-8 of each kind falls back to the code page as a whole.
    EXPECT_EQ(textToUtf8("\xC3"), "\xC3\x83");                              // truncated sequence
    EXPECT_EQ(textToUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");                  // overlong
    EXPECT_EQ(textToUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));                          // beyond U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE0\x80\x80"));
}

}  // namespace
}  // namespace tessaly
