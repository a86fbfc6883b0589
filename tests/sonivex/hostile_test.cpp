// Servers that try to hold an open for ever, streams under the wrong name,
// and streams that end badly: every open ends within its bound, whatever
// decodes plays, and every end says why.
#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "fake_server.h"
#include "library_test.h"
#include "test_sounds.h"

namespace sonivex_test {
namespace {

using kit::Script;

// The fixture's connect limit is 2 s: an open ends by three of them.
constexpr double kOpenBound = 6.0;
// What a busy machine may add to it.
constexpr double kSlack = 1.5;

const std::string& Mp3()
{
    static const std::string tone = kit::EncodeTone("mp3", 4, 1000);
    return tone;
}

struct Hostile : LibraryTest {
    kit::FakeServer server;

    // A good station beside the hostile ones, to show that the library
    // opens the next one as soon as a hostile open has ended.
    void ExpectAGoodStationOpens()
    {
        server.Route("/good", Script().Send(Script::IcyHead({"content-type:audio/mpeg"})).Repeat(Mp3(), 0));
        const HSTREAM good = Open(server.Url("/good"));
        EXPECT_NE(good, 0u) << BASS_ErrorGetCode();
        BASS_StreamFree(good);
    }
};

TEST_F(Hostile, EveryOpenEndsByItsDeadlineWhateverTheServersDo)
{
    kit::SilentServer silent;
    const std::string head = Script::IcyHead({"content-type:audio/mpeg", "icy-name:Slow"});
    // Headers and body a byte at a time: each byte restarts a no-data timer.
    server.Route("/slow-head", Script().SendSlowly(head + Mp3(), 1, 300));
    server.Route("/slow-body", Script().Send(head).SendSlowly(Mp3(), 1, 100));
    std::string list = "[playlist]\n";
    for (int i = 0; i < 40; ++i) list += "; a comment to make the list long\n";
    list += "File1=" + server.Url("/good") + "\n";
    server.Route("/slow-list.pls",
                 Script().Send(Script::HttpHead(200, "OK", {"Content-Type: audio/x-scpls"}))
                     .SendSlowly(list, 1, 100));
    // Twenty entries that connect and never answer.
    std::string silentList = "#EXTM3U\n";
    for (int i = 0; i < 20; ++i) silentList += silent.Url("/s" + std::to_string(i)) + "\n";
    server.Route("/silent.m3u", Script().Send(Script::HttpHead(200, "OK", {}) + silentList));
    // An HLS station whose media playlist comes a byte at a time.
    server.Route("/slow-hls.m3u8",
                 Script().Send(Script::HttpHead(200, "OK", {"Content-Type: application/vnd.apple.mpegurl"}) +
                               "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=128000\nslow-media.m3u8\n"));
    server.Route("/slow-media.m3u8",
                 Script().Send(Script::HttpHead(200, "OK", {})).SendSlowly(
                     "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nseg0.ts\n#EXT-X-ENDLIST\n", 1, 300));
    // Every address is a playlist of 256 new addresses of itself.
    std::string multiplying = "#EXTM3U\n";
    for (int i = 0; i < 256; ++i) multiplying += "k" + std::to_string(i) + "/\n";
    server.SetFallback(Script().Send(
        Script::HttpHead(200, "OK", {"Content-Type: audio/x-mpegurl"}) + multiplying));

    struct Case {
        std::string path;
        std::set<int> errors;
    };
    const Case cases[] = {
        {"/slow-head", {BASS_ERROR_TIMEOUT}},
        {"/slow-body", {BASS_ERROR_TIMEOUT}},
        {"/slow-list.pls", {BASS_ERROR_TIMEOUT}},
        {"/silent.m3u", {BASS_ERROR_TIMEOUT}},
        {"/slow-hls.m3u8", {BASS_ERROR_TIMEOUT}},
        {"/many/", {BASS_ERROR_TIMEOUT, BASS_ERROR_NOTAUDIO}},
    };
    // All at once, each open on a thread of its own (the error code is the
    // thread's): each must end by its own bound while the others hold on.
    struct Outcome {
        HSTREAM stream = 0;
        int error = 0;
        double seconds = 0;
    };
    std::vector<Outcome> outcomes(std::size(cases));
    std::vector<std::thread> opens;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        opens.emplace_back([&, i] {
            const auto start = std::chrono::steady_clock::now();
            outcomes[i].stream = Open(server.Url(cases[i].path));
            outcomes[i].error = BASS_ErrorGetCode();
            outcomes[i].seconds = SecondsSince(start);
        });
    for (std::thread& open : opens) open.join();
    const std::vector<std::string> requests = server.Requests();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.path);
        EXPECT_EQ(outcomes[i].stream, 0u);
        EXPECT_TRUE(c.errors.count(outcomes[i].error)) << outcomes[i].error;
        EXPECT_LT(outcomes[i].seconds, kOpenBound + kSlack);
        // At most 64 addresses in one open, the playlists' own included.
        const auto own = std::count_if(requests.begin(), requests.end(), [&](const std::string& request) {
            return request.rfind("GET " + c.path, 0) == 0;
        });
        EXPECT_LE(own, 64);
        std::printf("[ hostile  ] %s ended after %.2f s, %td requests\n", c.path.c_str(), outcomes[i].seconds, own);
    }
    ExpectAGoodStationOpens();
}

TEST_F(Hostile, AddressesThatDifferOnlyInFormAreFetchedOnce)
{
    // A playlist that names itself with another case, its default port and
    // a fragment: one fetch, no loop.
    const std::string self = "http://127.0.0.1:" + std::to_string(server.Port());
    server.Route("/Self.pls",
                 Script().Send(Script::HttpHead(200, "OK", {}) + "[playlist]\nFile1=" + self +
                               "/Self.pls#again\nFile2=HTTP://127.0.0.1:" +
                               std::to_string(server.Port()) + "/Self.pls\n"));
    EXPECT_EQ(Open(server.Url("/Self.pls")), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAUDIO);
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(Hostile, WavAndMislabelledStreamsPlay)
{
    struct Case {
        std::string name;
        std::string codec;
        std::string contentType;
    };
    const Case cases[] = {
        {"16-bit WAV as audio/wav", "wav", "audio/wav"},
        {"16-bit WAV as audio/x-wav", "wav", "audio/x-wav"},
        {"16-bit WAV untyped", "wav", ""},
        {"16-bit WAV as octet-stream", "wav", "application/octet-stream"},
        {"float WAV", "wavfloat", "audio/wav"},
        {"AAC as audio/mpeg", "aac", "audio/mpeg"},
        {"MP3 as audio/ogg", "mp3", "audio/ogg"},
        {"Ogg Vorbis as audio/mpeg", "vorbis", "audio/mpeg"},
        {"Ogg Opus as audio/aac", "opus", "audio/aac"},
    };
    // All at once, each on a thread of its own (the error code is the
    // thread's).
    struct Outcome {
        HSTREAM stream = 0;
        int error = 0;
        bool played = false;
        bool loud = false;
        std::string failure;  // of the encoder
    };
    std::vector<Outcome> outcomes(std::size(cases));
    std::vector<std::thread> plays;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        plays.emplace_back([&, i] {
            const Case& c = cases[i];
            Outcome& outcome = outcomes[i];
            std::string sound;
            try {
                sound = kit::EncodeTone(c.codec, 3, 1000);
            } catch (const std::exception& e) {
                outcome.failure = e.what();
                return;
            }
            std::vector<std::string> lines;
            if (!c.contentType.empty()) lines.push_back("Content-Type: " + c.contentType);
            server.Route("/" + c.codec + c.contentType,
                         Script().Send(Script::HttpHead(200, "OK", lines) + sound).Hang());
            outcome.stream = Open(server.Url("/" + c.codec + c.contentType));
            outcome.error = BASS_ErrorGetCode();
            if (outcome.stream == 0) return;
            outcome.played = BASS_ChannelPlay(outcome.stream, 0);
            // The tone reaches the output: samples near full scale.
            const auto loud = [&] {
                std::int16_t frames[2 * 512];
                if (BASS_ChannelGetData(outcome.stream, frames, sizeof frames) != sizeof frames)
                    return false;
                int loudest = 0;
                for (const std::int16_t sample : frames) loudest = std::max(loudest, std::abs(int{sample}));
                return loudest > 20000;
            };
            outcome.loud = outcome.played && WaitUntil(loud, std::chrono::seconds(5));
            BASS_StreamFree(outcome.stream);
        });
    for (std::thread& play : plays) play.join();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_EQ(outcomes[i].failure, "");
        EXPECT_NE(outcomes[i].stream, 0u) << outcomes[i].error;
        if (outcomes[i].stream == 0) continue;
        EXPECT_TRUE(outcomes[i].played);
        EXPECT_TRUE(outcomes[i].loud);
    }
}

// Why a stream's data ended, read where a player reads it.
int EndOf(HSTREAM stream)
{
    if (!WaitUntil([&] { return BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED) == 0; },
                   std::chrono::seconds(10)))
        return -1;
    BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED);
    return BASS_ErrorGetCode();
}

TEST_F(Hostile, EveryEndOfAStreamSaysWhy)
{
    const std::string mp3 = Mp3();
    const std::string half = mp3.substr(0, mp3.size() / 2);
    // Chunks: one good one, then a size that does not fit in 64 bits.
    server.Route("/chunk-overflow",
                 Script()
                     .Send(Script::HttpHead(200, "OK",
                                            {"Content-Type: audio/mpeg", "Transfer-Encoding: chunked"},
                                            "HTTP/1.1") +
                           kit::Chunk(half))
                     .Send("FFFFFFFFFFFFFFFFFFFF\r\n"));
    server.Route("/false-gzip",
                 Script().Send(Script::HttpHead(200, "OK",
                                                {"Content-Type: audio/mpeg", "Content-Encoding: gzip"}) +
                               mp3));
    // A live stream that the server closes, and one it cuts short of its length.
    server.Route("/cut", Script().Send(Script::IcyHead({"content-type:audio/mpeg"}) + half).Close());
    server.Route("/short",
                 Script()
                     .Send(Script::HttpHead(200, "OK",
                                            {"Content-Type: audio/mpeg",
                                             "Content-Length: " + std::to_string(mp3.size())}) +
                           half)
                     .Close());
    // A file of known length, whole: a proper end.
    server.Route("/whole", Script().Send(Script::HttpHead(200, "OK",
                                                          {"Content-Type: audio/mpeg",
                                                           "Content-Length: " +
                                                               std::to_string(mp3.size())}) +
                                         mp3));
    // Sound first, then data without a single frame in it, for as long as
    // one listens.
    server.Route("/garbage", Script()
                                 .Send(Script::IcyHead({"content-type:audio/mpeg"}) + half)
                                 .Repeat(std::string(65536, '\0'), 0));
    struct Case {
        const char* path;
        int openError;  // BASS_OK: it opens, and ends with endError
        int endError;
    };
    const Case cases[] = {
        {"/chunk-overflow", BASS_OK, BASS_ERROR_HTTP},
        {"/false-gzip", BASS_ERROR_FORMAT, 0},
        {"/cut", BASS_OK, BASS_ERROR_HTTP},
        {"/short", BASS_OK, BASS_ERROR_HTTP},
        {"/whole", BASS_OK, BASS_OK},
        {"/garbage", BASS_OK, BASS_ERROR_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const HSTREAM stream = Open(server.Url(c.path));
        if (c.openError != BASS_OK) {
            EXPECT_EQ(stream, 0u);
            EXPECT_EQ(BASS_ErrorGetCode(), c.openError);
            continue;
        }
        ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
        ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
        EXPECT_EQ(EndOf(stream), c.endError);
        BASS_StreamFree(stream);
    }
}

}  // namespace
}  // namespace sonivex_test
