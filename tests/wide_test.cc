// Windows names between UTF-8 and UTF-16: every name comes back exactly,
// lone surrogates included, and a console write never cuts a character.
#include "filepass/wide-win32.h"

#include <gtest/gtest.h>

namespace {

TEST(WideNames, EveryNameComesBackExactly) {
    const std::wstring names[] = {L"карта.map", L"名前.map", L"Ünïcode räum.map", L"\U0001F5FA.map",
                                  std::wstring(L"lone \xD800 high.map"), std::wstring(L"lone \xDC00 low.map"),
                                  std::wstring(L"\xDC00\xD800 reversed.map")};
    for (const std::wstring& name : names) {
        EXPECT_EQ(wide(narrow(name)), name);
        EXPECT_EQ(wide_length(narrow(name)), name.size());
    }
    EXPECT_EQ(narrow(L"\U0001F5FA"), "\xF0\x9F\x97\xBA");  // a pair is one code point
    // Bytes that begin no sequence each stand for U+FFFD.
    EXPECT_EQ(wide("a\xFF\xC3(\xE2\x82 \xC0\x80"), std::wstring(L"a\xFFFD\xFFFD(\xFFFD\xFFFD \xFFFD\xFFFD"));
}

TEST(WideNames, WritesInPartsEndOnWholeCharacters) {
    const struct {
        const char* text;
        size_t whole;
    } cases[] = {{"ab", 2}, {"a\xD0", 1}, {"a\xD0\xBA", 3}, {"\xE5\x90", 0}, {"\xF0\x9F\x97", 0}, {"\xF0\x9F\x97\xBA", 4},
                 {"a\xFF", 2}, {"\x80\x80\x80\x80\x80", 5}};
    for (const auto& c : cases) EXPECT_EQ(complete_prefix(c.text), c.whole) << c.text;
}

}  // namespace
