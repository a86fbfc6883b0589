// HLS stations made by ffmpeg and served by the fake server: finished and
// live playlists, a choice of variants, a segment that is missing, titles
// from #EXTINF and from ID3, and AES-128 encrypted segments.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "fake_server.h"
#include "library_test.h"
#include "test_sounds.h"

namespace sonivex_test {
namespace {

using kit::Script;

const std::string kPlaylistType = "Content-Type: application/vnd.apple.mpegurl";

struct Hls : LibraryTest {
    kit::FakeServer server;

    // Serves every file of an HLS station under folder; segments missing
    // from `except` are not served (404).
    void Serve(const std::string& folder, const std::map<std::string, std::string>& files,
               const std::set<std::string>& except = {})
    {
        for (const auto& [name, bytes] : files) {
            if (except.count(name)) continue;
            const bool list = name.ends_with(".m3u8");
            server.Route(folder + name,
                         Script().Send(Script::HttpHead(200, "OK",
                                                        {list ? kPlaylistType : "Content-Type: video/mp2t",
                                                         "Content-Length: " + std::to_string(bytes.size())}) +
                                       bytes));
        }
    }
    std::vector<std::string> Targets() const
    {
        std::vector<std::string> targets;
        for (const std::string& request : server.Requests())
            targets.push_back(request.substr(4, request.find(" HTTP") - 4));
        return targets;
    }
    bool Requested(const std::string& target) const
    {
        const auto targets = Targets();
        return std::find(targets.begin(), targets.end(), target) != targets.end();
    }
};

int Loudest(HSTREAM stream)
{
    std::int16_t frames[2 * 512];
    if (BASS_ChannelGetData(stream, frames, sizeof frames) != sizeof frames) return -1;
    int loudest = 0;
    for (const std::int16_t sample : frames) loudest = std::max(loudest, std::abs(int{sample}));
    return loudest;
}

bool Ended(HSTREAM stream)
{
    return BASS_ChannelGetData(stream, nullptr, 0) == static_cast<DWORD>(-1) &&
           BASS_ErrorGetCode() == BASS_ERROR_NOPLAY;
}

TEST_F(Hls, AFinishedStationPlaysEverySegmentAndEnds)
{
    for (const char* codec : {"aac", "mp3"}) {
        SCOPED_TRACE(codec);
        const std::string folder = std::string("/") + codec + "/";
        const auto files = kit::EncodeHls(codec, 3, 1000, 1);
        // A segment that cannot be had is skipped.
        Serve(folder, files, {"seg1.ts"});
        const HSTREAM stream = Open(server.Url(folder + "list.m3u8"));
        ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
        EXPECT_GT(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END), 0u);
        ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
        EXPECT_TRUE(WaitUntil([&] { return Loudest(stream) > 20000; }, std::chrono::seconds(5)));
        EXPECT_TRUE(WaitUntil([&] { return Ended(stream); }, std::chrono::seconds(15)));
        for (const char* segment : {"seg0.ts", "seg1.ts", "seg2.ts"})
            EXPECT_TRUE(Requested(folder + segment)) << segment;
        // A finished list ends whole.
        BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
        BASS_StreamFree(stream);
    }
}

TEST_F(Hls, FragmentedMp4SegmentsPlayAfterTheirInitialisation)
{
    const auto files = kit::EncodeHls("aac", 3, 1000, 1, false, /*fmp4=*/true);
    ASSERT_TRUE(files.count("init.mp4"));
    Serve("/fmp4/", files);
    const HSTREAM stream = Open(server.Url("/fmp4/list.m3u8"));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    EXPECT_TRUE(WaitUntil([&] { return Loudest(stream) > 20000; }, std::chrono::seconds(5)));
    EXPECT_TRUE(WaitUntil([&] { return Ended(stream); }, std::chrono::seconds(15)));
    const auto targets = Targets();
    EXPECT_EQ(std::count(targets.begin(), targets.end(), "/fmp4/init.mp4"), 1);
    EXPECT_TRUE(Requested("/fmp4/seg2.m4s"));
    BASS_StreamFree(stream);
}

TEST_F(Hls, TheBestVariantUpTo320KbpsIsChosen)
{
    const auto files = kit::EncodeHls("aac", 4, 1000, 2);
    for (const char* folder : {"/low/", "/mid/", "/high/"}) Serve(folder, files);
    server.Route("/master.m3u8",
                 Script().Send(Script::HttpHead(200, "OK", {kPlaylistType}) +
                               "#EXTM3U\n"
                               "#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS=\"mp4a.40.2\"\nlow/list.m3u8\n"
                               "#EXT-X-STREAM-INF:BANDWIDTH=256000,CODECS=\"mp4a.40.2\"\nmid/list.m3u8\n"
                               "#EXT-X-STREAM-INF:BANDWIDTH=512000,CODECS=\"mp4a.40.2\"\nhigh/list.m3u8\n"));
    const HSTREAM stream = Open(server.Url("/master.m3u8"));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    EXPECT_TRUE(Requested("/mid/list.m3u8"));
    EXPECT_FALSE(Requested("/low/list.m3u8"));
    EXPECT_FALSE(Requested("/high/list.m3u8"));
    BASS_StreamFree(stream);
}

TEST_F(Hls, ALiveStationIsJoinedNearItsEndAndFollowed)
{
    const auto files = kit::EncodeHls("aac", 14, 1000, 2);
    Serve("/live/", files);
    // The list as a live server keeps it: five segments, then one more.
    const auto list = [](int from, int to) {
        std::string text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:" +
                           std::to_string(from) + "\n";
        for (int i = from; i <= to; ++i)
            text += "#EXTINF:2.000000,Song " + std::to_string(i) + "\nseg" + std::to_string(i) + ".ts\n";
        return Script().Send(Script::HttpHead(200, "OK", {kPlaylistType}) + text);
    };
    server.RouteSequence("/live/now.m3u8", {list(0, 4), list(1, 5), list(2, 6)});
    const HSTREAM stream = Open(server.Url("/live/now.m3u8"));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    // Three segments from the live edge: seg2, not seg0 or seg1.
    EXPECT_FALSE(Requested("/live/seg0.ts"));
    EXPECT_FALSE(Requested("/live/seg1.ts"));
    EXPECT_TRUE(Requested("/live/seg2.ts"));
    // Its first title at once, and the list read again for the next segment.
    EXPECT_STREQ(BASS_ChannelGetTags(stream, BASS_TAG_META), "StreamTitle='Song 2';");
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    EXPECT_TRUE(WaitUntil([&] { return Requested("/live/seg5.ts"); }, std::chrono::seconds(10)));
    // Later titles when their sound is heard.
    EXPECT_TRUE(WaitUntil(
        [&] {
            const char* meta = BASS_ChannelGetTags(stream, BASS_TAG_META);
            return meta != nullptr && std::string(meta) == "StreamTitle='Song 3';";
        },
        std::chrono::seconds(10)));
    EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED), 1u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(BASS_StreamFree(stream));
    EXPECT_LT(SecondsSince(start), 0.1);
}

// Which of kit::EncodeHlsSongs's segments the output plays now, told by
// its tone (500 Hz more for each); -1 while it is quiet.
int SegmentHeard(HSTREAM stream)
{
    std::int16_t frames[2 * 441];  // 10 ms
    if (BASS_ChannelGetData(stream, frames, sizeof frames) != sizeof frames) return -1;
    int crossings = 0, loudest = 0;
    for (std::size_t i = 0; i < 441; ++i) {
        loudest = std::max(loudest, std::abs(int{frames[2 * i]}));
        if (i > 0 && (frames[2 * i] < 0) != (frames[2 * i - 2] < 0)) ++crossings;
    }
    if (loudest < 8000) return -1;
    return static_cast<int>(std::lround(crossings / 10.0)) - 1;
}

TEST_F(Hls, Id3SongsChangeWithTheSoundOfTheirSegment)
{
    const std::vector<std::string> songs = {"Исполнитель - Песня 0", "Song 1", "Группа - Song 2"};
    struct Kind {
        const char* codec;
        bool packed;
    };
    const auto play = [&](const Kind kind) {
        const std::string folder =
            std::string("/") + kind.codec + (kind.packed ? "-packed/" : "-timed/");
        SCOPED_TRACE(folder);
        std::map<std::string, std::string> files;
        try {
            files = kit::EncodeHlsSongs(kind.codec, songs, 1, kind.packed);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            return;
        }
        Serve(folder, files);
        const HSTREAM stream = Open(server.Url(folder + "list.m3u8"));
        ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
        // The first song at once, whatever encoding its tag used.
        EXPECT_STREQ(BASS_ChannelGetTags(stream, BASS_TAG_META),
                     "StreamTitle='Исполнитель - Песня 0';");
        ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
        // The whole station is fetched at once; the next song counts when
        // its tone is heard after the first song's: the first milliseconds
        // of the MP3 station, where its tone sets in, can read as the next.
        std::optional<std::chrono::steady_clock::time_point> heard, named;
        bool firstHeard = false;
        EXPECT_TRUE(WaitUntil(
            [&] {
                const auto now = std::chrono::steady_clock::now();
                const int segment = SegmentHeard(stream);
                if (segment == 0) firstHeard = true;
                if (!heard && firstHeard && segment == 1) heard = now;
                const char* meta = BASS_ChannelGetTags(stream, BASS_TAG_META);
                if (!named && meta != nullptr && std::string(meta) == "StreamTitle='Song 1';") named = now;
                return heard && named;
            },
            std::chrono::seconds(10)));
        if (heard && named) {
            const double lag = std::chrono::duration<double>(*named - *heard).count();
            std::printf("[ hls      ] %s: the song changed %.3f s after its sound\n", folder.c_str(), lag);
            EXPECT_LT(std::abs(lag), 0.3);
        }
        EXPECT_TRUE(WaitUntil(
            [&] {
                const char* meta = BASS_ChannelGetTags(stream, BASS_TAG_META);
                return meta != nullptr && std::string(meta) == "StreamTitle='Группа - Song 2';";
            },
            std::chrono::seconds(10)));
        BASS_StreamFree(stream);
    };
    // The three stations at once, each on a thread of its own (the error
    // code is the thread's).
    std::vector<std::thread> plays;
    for (const Kind kind : {Kind{"aac", true}, Kind{"mp3", true}, Kind{"aac", false}})
        plays.emplace_back(play, kind);
    for (std::thread& thread : plays) thread.join();
}

TEST_F(Hls, AesEncryptedSegmentsAreDecryptedAndOtherSchemesRefused)
{
    const auto files = kit::EncodeHls("aac", 4, 1000, 2, /*encrypt=*/true);
    ASSERT_NE(files.at("list.m3u8").find("#EXT-X-KEY:METHOD=AES-128"), std::string::npos);
    Serve("/secret/", files);
    server.Route("/secret/key.bin", Script().Send(Script::HttpHead(200, "OK", {}) + std::string(16, 'k')));
    const HSTREAM stream = Open(server.Url("/secret/list.m3u8"));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    EXPECT_TRUE(WaitUntil([&] { return Loudest(stream) > 20000; }, std::chrono::seconds(5)));
    BASS_StreamFree(stream);

    server.Route("/sample-aes.m3u8",
                 Script().Send(Script::HttpHead(200, "OK", {kPlaylistType}) +
                               "#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
                               "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"key.bin\"\n"
                               "#EXTINF:2,\nsecret/seg0.ts\n#EXT-X-ENDLIST\n"));
    EXPECT_EQ(Open(server.Url("/sample-aes.m3u8")), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
}

}  // namespace
}  // namespace sonivex_test
