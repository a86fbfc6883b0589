// The worker's rules on their own: the title in a metadata text, the fill
// level arithmetic, the header lines that name a station.
#include <gtest/gtest.h>

#include "stream_worker.h"

namespace {

TEST(StreamTitle, IsTheTextBetweenItsQuoteAndTheQuoteSemicolonAfterIt)
{
    struct Case {
        const char* metadata;
        std::optional<std::string> title;
    };
    const Case cases[] = {
        {"StreamTitle='Artist - Song';StreamUrl='http://x/';", "Artist - Song"},
        {"StreamTitle='Artist - Song';", "Artist - Song"},
        {"StreamTitle='';", ""},
        // A ";" inside the title, and a field before the title, keep it whole.
        {"StreamTitle='Guns N' Roses - Don't Cry; Live';StreamUrl='a;b';", "Guns N' Roses - Don't Cry; Live"},
        {"StreamUrl='http://x/?a=1;b=2';StreamTitle='After';", "After"},
        {"StreamTitle='No end", "No end"},
        {"StreamTitle=", ""},
        {"streamtitle='lower';", std::nullopt},  // the key's case counts
        {"StreamUrl='only';", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(StreamTitleOf(c.metadata), c.title) << c.metadata;
    EXPECT_EQ(StreamTitleOf(nullptr), std::nullopt);
}

TEST(BufferProgress, FollowsTheThirtyTwoBitArithmeticOfTheStatusBar)
{
    EXPECT_EQ(BufferProgress(80000, 60800, 0), 76);
    EXPECT_EQ(BufferProgress(80000, 70000, 10000), 75);
    EXPECT_EQ(BufferProgress(80000, 80000, 0), 100);
    EXPECT_EQ(BufferProgress(80000, 5000, 6000), -1);  // taken more than arrived
    // Only the end's low 32 bits count.
    EXPECT_EQ(BufferProgress(0x100000000ull + 1000, 500, 0), 50);
}

TEST(HeaderMessages, NameAndBitRateComeInLineOrderWithTheirBlanks)
{
    using namespace std::string_literals;
    const std::string block = "icy-br: 128\0icy-name:Jazz FM\0ICY-NAME:upper\0icy-nam\0icy-name:\0"
                              "content-type:audio/mpeg\0icy-name:Second\0\0"s;
    const auto messages = HeaderMessages(block.c_str());
    const std::vector<std::pair<TStreamStatus, std::string>> expected = {
        {stBitrate, "bitrate:  128"},
        {stStationName, "Jazz FM"},
        {stStationName, ""},
        {stStationName, "Second"},
    };
    EXPECT_EQ(messages, expected);
    EXPECT_TRUE(HeaderMessages(nullptr).empty());
}

}  // namespace
