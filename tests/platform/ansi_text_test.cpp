// Texts between the bytes a stream or the settings file holds and the UTF-8
// the screen shows.
#include "ansi_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using platform::AnsiText;
using platform::DisplayText;
using platform::IsValidUtf8;

TEST(AnsiTextTest, RecognisesValidUtf8)
{
    struct Case {
        std::string_view bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true}, {"Radio 7", true}, {"Кино", true}, {"日本", true},
        {"\xF0\x9F\x98\x80", true},      // U+1F600
        {"\xC2\x80", true},              // the first two-byte character
        {"\xED\x9F\xBF", true},          // U+D7FF and U+E000, around the surrogates
        {"\xEE\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},      // U+10FFFF, the last character
        // Overlong forms of U+0000, U+007F, U+07FF and U+FFFF.
        {"\xC0\x80", false}, {"\xC1\xBF", false}, {"\xE0\x9F\xBF", false}, {"\xF0\x8F\xBF\xBF", false},
        {"\xED\xA0\x80", false},         // surrogates U+D800 and U+DFFF
        {"\xED\xBF\xBF", false},
        {"\xF4\x90\x80\x80", false},     // past U+10FFFF
        {"\xF8\x88\x80\x80\x80", false}, // five-byte form
        {"\xFF", false},
        {"\x80", false},                 // a continuation byte on its own
        // Truncated, and a lead byte followed by ASCII.
        {"ab\xD0", false}, {"\xE6\x97", false}, {"\xF0\x9F\x98", false}, {"\xD0\x41", false},
        {"\xCA\xE8\xED\xEE", false},     // "Кино" in windows-1251
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
    }
}

TEST(AnsiTextTest, ShowsUtf8AsItIsAndAnythingElseAsWindows1251)
{
    struct Case {
        std::string_view bytes;
        std::string_view shown;
    };
    const Case cases[] = {
        {"Radio 7", "Radio 7"},
        {"Кино — «Группа крови»", "Кино — «Группа крови»"},
        {"\xCA\xE8\xED\xEE", "Кино"},
        {"\xA8\xEB\xEA\xE8 \xB8", "Ёлки ё"},
        {"\xAB\xCF\xF0\xE8\xE2\xE5\xF2\xBB", "«Привет»"},
        {"Hit \x96 \x97 \xB9" "1", "Hit – — №1"},
        {"\x88\x85\x99", "€…™"},
        {"\xC0\xDF\xE0\xFF", "АЯая"},
        {"\xA0", "\xC2\xA0"},  // no-break space
        {"\x98", "\xC2\x98"},  // unassigned in the code page, kept apart
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
        EXPECT_EQ(DisplayText(c.bytes), c.shown);
    }
}

TEST(AnsiTextTest, StoresWhatWindows1251HasAndKeepsTheRestAsUtf8)
{
    struct Case {
        std::string_view utf8;
        std::string_view ansi;
    };
    const Case cases[] = {
        {"Radio 7 [mp3]", "Radio 7 [mp3]"},
        {"Кино", "\xCA\xE8\xED\xEE"},
        {"Ёё№–—€", "\xA8\xB8\xB9\x96\x97\x88"},
        {"ä", "ä"},                              // not in the code page
        {"日本", "日本"},
        {"Кино ä", "\xCA\xE8\xED\xEE ä"},
        {"\xCA\xE8\xED\xEE", "\xCA\xE8\xED\xEE"},  // already windows-1251
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.utf8)));
        EXPECT_EQ(AnsiText(c.utf8), c.ansi);
    }
}

TEST(AnsiTextTest, CyrillicTextsSurviveARoundTrip)
{
    for (const std::string_view text :
         {"Кино", "Ёлки-палки — №1", "«Наше Радио» – Хиты", "Привет, мир! ЪЫЬЭЮЯ ъыьэюя"}) {
        SCOPED_TRACE(std::string(text));
        EXPECT_FALSE(IsValidUtf8(AnsiText(text)));
        EXPECT_EQ(DisplayText(AnsiText(text)), text);
    }
    // Every byte of the upper half shows as a character of its own that is
    // stored back as that byte.
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        SCOPED_TRACE(byte);
        const std::string ansi(1, static_cast<char>(byte));
        EXPECT_EQ(AnsiText(DisplayText(ansi)), ansi);
    }
}

}  // namespace
