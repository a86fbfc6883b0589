// A stream's life after it opened: its buffers and positions, stalls and
// drops, freeing it while other threads use it, and the library's own
// start and end.
#include <array>

#include "fake_server.h"
#include "library_test.h"
#include "test_sounds.h"

namespace sonivex_test {
namespace {

using kit::Script;

const std::string& Mp3()
{
    static const std::string tone = kit::EncodeTone("mp3", 8, 1000);
    return tone;
}

std::string LiveHead()
{
    return Script::IcyHead({"content-type:audio/mpeg", "icy-br:128"});
}

struct StreamLife : LibraryTest {
    kit::FakeServer server;
    QWORD Position(HSTREAM stream, DWORD mode) { return BASS_StreamGetFilePosition(stream, mode); }
};

TEST_F(StreamLife, TheDownloadBufferFillsAndPausesUntilPlayed)
{
    // An endless live stream: 8 s of audio, sent over and over.
    server.Route("/live", Script().Send(LiveHead()).Repeat(Mp3(), 0));
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 2000);  // 2 s at 128 kbps: 32000 bytes
    // A server silent for 300 ms has stalled.
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 300);
    const HSTREAM stream = Open(server.Url("/live"));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(Position(stream, BASS_FILEPOS_END), 32000u);
    EXPECT_EQ(Position(stream, BASS_FILEPOS_CONNECTED), 1u);

    // Before playing, the decoder has taken only what told it the format, and
    // the buffer fills to its end and stays there.
    const QWORD probed = Position(stream, BASS_FILEPOS_CURRENT);
    EXPECT_LT(probed, 8192u);
    ASSERT_TRUE(
        WaitUntil([&] { return Position(stream, BASS_FILEPOS_DOWNLOAD) - probed >= 32000 - 16384; },
                  std::chrono::seconds(3)));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return Position(stream, BASS_FILEPOS_DOWNLOAD) - Position(stream, BASS_FILEPOS_CURRENT) ==
                   Position(stream, BASS_FILEPOS_END);
        },
        std::chrono::seconds(3)));
    const QWORD downloaded = Position(stream, BASS_FILEPOS_DOWNLOAD);
    EXPECT_LE(downloaded - Position(stream, BASS_FILEPOS_CURRENT), 32000u);
    // The full buffer stays as it is for longer than a stall takes to be
    // noticed: a stream opened only now, whose server stalls at once, has
    // been given up by then, although it waits twice as long for data.
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 600);
    server.Route("/stall", Script().Send(LiveHead() + Mp3().substr(0, 20000)).Hang());
    const HSTREAM stalled = Open(server.Url("/stall"));
    ASSERT_NE(stalled, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(WaitUntil([&] { return Position(stalled, BASS_FILEPOS_CONNECTED) == 0; },
                          std::chrono::seconds(5)));
    BASS_StreamFree(stalled);
    EXPECT_EQ(Position(stream, BASS_FILEPOS_DOWNLOAD), downloaded);  // paused, not dropped
    EXPECT_EQ(Position(stream, BASS_FILEPOS_CURRENT), probed);
    EXPECT_EQ(Position(stream, BASS_FILEPOS_CONNECTED), 1u);  // a full buffer is no stall

    // Playing takes from the buffer and the download resumes.
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    ASSERT_TRUE(
        WaitUntil([&] { return Position(stream, BASS_FILEPOS_DOWNLOAD) > downloaded + 16000; },
                  std::chrono::seconds(3)));
    // The buffer never holds more than its size, watched while another
    // quarter of a second of sound comes in.
    const QWORD resumed = Position(stream, BASS_FILEPOS_DOWNLOAD);
    int overfull = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            const QWORD end = Position(stream, BASS_FILEPOS_END);
            const QWORD download = Position(stream, BASS_FILEPOS_DOWNLOAD);
            const QWORD held = download - Position(stream, BASS_FILEPOS_CURRENT);
            if (static_cast<std::int64_t>(held) > static_cast<std::int64_t>(end)) ++overfull;
            return download >= resumed + 4000;
        },
        std::chrono::seconds(3)));
    EXPECT_EQ(overfull, 0);
    EXPECT_EQ(Position(stream, 77), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    BASS_StreamFree(stream);
}

TEST_F(StreamLife, PrebufferingWaitsForItsShareOfTheBuffer)
{
    server.Route("/slow", Script().Send(LiveHead()).SendSlowly(Mp3(), 4000, 20));
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 75);
    const HSTREAM stream = Open(server.Url("/slow"));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    const QWORD end = Position(stream, BASS_FILEPOS_END);
    EXPECT_GE(Position(stream, BASS_FILEPOS_DOWNLOAD) - Position(stream, BASS_FILEPOS_CURRENT),
              end * 75 / 100);
    BASS_StreamFree(stream);
}

TEST_F(StreamLife, AStalledServerCountsAsGoneAfterTheReadTimeout)
{
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 1000);
    server.Route("/stall", Script().Send(LiveHead() + Mp3().substr(0, 20000)).Hang());
    DownloadRecord& record = NewRecord();
    const HSTREAM stream = Open(server.Url("/stall"), &record);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return Position(stream, BASS_FILEPOS_CONNECTED) == 0; },
                          std::chrono::seconds(4)));
    EXPECT_GT(SecondsSince(start), 0.7);
    // The download's end reaches its callback just after the position
    // says so, from the download's own thread: once, not more.
    EXPECT_TRUE(WaitUntil([&] { return record.Ends() >= 1; }, std::chrono::seconds(2)));
    EXPECT_EQ(record.Ends(), 1);
    // The stream plays out what it had, then stops; its handle stays good.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return BASS_ChannelGetData(stream, nullptr, 0) == static_cast<DWORD>(-1) &&
                   BASS_ErrorGetCode() == BASS_ERROR_NOPLAY;
        },
        std::chrono::seconds(5)));
    EXPECT_NE(Position(stream, BASS_FILEPOS_END), static_cast<QWORD>(-1));
    EXPECT_TRUE(BASS_StreamFree(stream));
}

TEST_F(StreamLife, ADroppedConnectionEndsTheDownloadButKeepsItsAudio)
{
    const std::string part = Mp3().substr(0, 30000);
    for (const Script& drop :
         {Script().Send(LiveHead() + part).Close(), Script().Send(LiveHead() + part).Reset()}) {
        server.Route("/drop", drop);
        DownloadRecord& record = NewRecord();
        const HSTREAM stream = Open(server.Url("/drop"), &record);
        ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
        ASSERT_TRUE(WaitUntil([&] { return Position(stream, BASS_FILEPOS_CONNECTED) == 0; },
                              std::chrono::seconds(3)));
        EXPECT_EQ(record.Ends(), 1);
        EXPECT_EQ(Position(stream, BASS_FILEPOS_DOWNLOAD), part.size());
        EXPECT_EQ(record.Audio(), part);
        BASS_StreamFree(stream);
    }
}

TEST_F(StreamLife, FreeingNeverWaitsForAStallOrABlockedCallback)
{
    // A connection that stalls.
    server.Route("/stall", Script().Send(LiveHead() + Mp3().substr(0, 20000)).Hang());
    HSTREAM stream = Open(server.Url("/stall"));
    ASSERT_NE(stream, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(BASS_StreamFree(stream));
    EXPECT_LT(SecondsSince(start), 0.1);
    EXPECT_TRUE(
        WaitUntil([&] { return server.OpenConnectionCount() == 0; }, std::chrono::seconds(1)));

    // A download callback that blocks until we let it go. A callback that
    // is running when its stream is freed finishes on its own, so what it
    // uses must outlive this test: it lives as long as the process.
    struct Blocker {
        std::atomic<bool> release{false};
        std::atomic<int> calls{0};
        std::atomic<int> inside{0};
        std::atomic<bool> calledAfterFree{false};
        std::atomic<bool> freed{false};
        static void Proc(const void*, DWORD length, void* user)
        {
            auto* self = static_cast<Blocker*>(user);
            ++self->inside;
            if (self->freed) self->calledAfterFree = true;
            if (length > 0 && self->calls++ == 3)
                while (!self->release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            --self->inside;
        }
    };
    static Blocker blocker;
    server.Route("/live", Script().Send(LiveHead()).SendSlowly(Mp3(), 1000, 5));
    stream = BASS_StreamCreateURL(server.Url("/live").c_str(), 0, 0, &Blocker::Proc, &blocker);
    ASSERT_NE(stream, 0u);
    ASSERT_TRUE(WaitUntil([&] { return blocker.calls > 3; }, std::chrono::seconds(3)));
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(BASS_StreamFree(stream));
    blocker.freed = true;
    EXPECT_LT(SecondsSince(start), 0.1);
    blocker.release = true;
    // The blocked call returns, the download lets go of its connection, and
    // no call came after the free.
    EXPECT_TRUE(WaitUntil([&] { return blocker.inside == 0 && server.OpenConnectionCount() == 0; },
                          std::chrono::seconds(2)));
    EXPECT_FALSE(blocker.calledAfterFree);
    EXPECT_FALSE(BASS_StreamFree(stream));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(StreamLife, ABlockedSyncHoldsUpNeitherSoundNorDownload)
{
    const std::string audio = Mp3().substr(0, 40000);
    server.Route("/live",
                 Script()
                     .Send(Script::IcyHead({"content-type:audio/mpeg", "icy-metaint:4000"}))
                     .SendSlowly(kit::IcyInterleave(
                                     audio, 4000,
                                     {"StreamTitle='A';", "StreamTitle='B';", "StreamTitle='C';"}),
                                 4001, 100)
                     .Hang());
    const HSTREAM stream = Open(server.Url("/live"));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    // The sync that is stuck runs on after the stream is freed: what it
    // uses lives as long as the process.
    struct Gate {
        std::atomic<bool> open{false};
        std::atomic<int> calls{0};
        std::atomic<int> inside{0};
    };
    static Gate gate;
    BASS_ChannelSetSync(
        stream, BASS_SYNC_META, 0,
        [](HSYNC, DWORD, DWORD, void* user) {
            auto* g = static_cast<Gate*>(user);
            ++g->inside;
            ++g->calls;
            while (!g->open)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            --g->inside;
        },
        &gate);
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    ASSERT_TRUE(WaitUntil([&] { return gate.calls == 1; }, std::chrono::seconds(3)));
    // The first sync is stuck; the download and the sound go on.
    const QWORD before = Position(stream, BASS_FILEPOS_DOWNLOAD);
    EXPECT_TRUE(WaitUntil([&] { return Position(stream, BASS_FILEPOS_DOWNLOAD) > before; },
                          std::chrono::seconds(3)));
    std::int16_t samples[512];
    EXPECT_EQ(BASS_ChannelGetData(stream, samples, sizeof samples), sizeof samples);
    EXPECT_EQ(gate.calls, 1);
    // Freeing does not wait for it either; the syncs still queued are dropped.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(BASS_StreamFree(stream));
    EXPECT_LT(SecondsSince(start), 0.1);
    gate.open = true;
    EXPECT_TRUE(WaitUntil([&] { return gate.inside == 0; }, std::chrono::seconds(2)));
    EXPECT_EQ(gate.calls, 1);
}

TEST_F(StreamLife, EveryCallMayComeFromAnyThreadWhileAStreamIsFreed)
{
    server.Route(
        "/live",
        Script()
            .Send(Script::IcyHead({"content-type:audio/mpeg", "icy-metaint:4000"}))
            .Repeat(kit::IcyInterleave(Mp3().substr(0, 40000), 4000, {"StreamTitle='T';"}), 50));
    for (int round = 0; round < 5; ++round) {
        const HSTREAM stream = Open(server.Url("/live"));
        ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
        ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
        std::atomic<bool> stop{false};
        std::array<std::atomic<int>, 3> passes{};
        std::vector<std::thread> callers;
        for (std::size_t t = 0; t < passes.size(); ++t)
            callers.emplace_back([&, t] {
                std::uint32_t frames[512];
                float spectrum[128];
                while (!stop) {
                    BASS_ChannelGetData(stream, frames, sizeof frames);
                    BASS_ChannelGetData(stream, spectrum, BASS_DATA_FFT256);
                    if (const char* meta = BASS_ChannelGetTags(stream, BASS_TAG_META)) {
                        EXPECT_EQ(meta[0], 'S');
                    }
                    TagLines(BASS_ChannelGetTags(stream, BASS_TAG_ICY));
                    BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD);
                    BASS_ChannelSetSync(
                        stream, BASS_SYNC_META, 0, [](HSYNC, DWORD, DWORD, void*) {}, nullptr);
                    ++passes[t];
                }
            });
        const auto passed = [&](const std::array<int, 3>& least) {
            for (std::size_t t = 0; t < passes.size(); ++t)
                if (passes[t] < least[t]) return false;
            return true;
        };
        // Each round frees the stream a little further into its sound, with
        // every caller at it.
        const std::uint64_t frames = 44100 * (50 + 20 * round) / 1000;
        EXPECT_TRUE(WaitUntil([&] { return FramesPlayed(stream) >= frames && passed({1, 1, 1}); },
                              std::chrono::seconds(5)));
        EXPECT_TRUE(BASS_StreamFree(stream));
        // And each goes on with the freed handle for two more rounds of calls.
        const std::array<int, 3> atFree = {passes[0] + 2, passes[1] + 2, passes[2] + 2};
        EXPECT_TRUE(WaitUntil([&] { return passed(atFree); }, std::chrono::seconds(5)));
        stop = true;
        for (auto& caller : callers)
            caller.join();
        EXPECT_EQ(BASS_ChannelGetData(stream, nullptr, 0), static_cast<DWORD>(-1));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    }
}

TEST_F(StreamLife, HandlesAreNeverZeroAndNotReusedSoon)
{
    server.Route("/a", Script().Send(LiveHead() + Mp3()));
    const HSTREAM first = Open(server.Url("/a"));
    const HSTREAM second = Open(server.Url("/a"));
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    EXPECT_NE(first, second);
    BASS_StreamFree(first);
    const HSTREAM third = Open(server.Url("/a"));
    EXPECT_NE(third, first);
    EXPECT_NE(third, 0u);
    for (const DWORD bad : {DWORD{0}, first, DWORD{0xFFFFFFFF}}) {
        EXPECT_EQ(BASS_ChannelGetTags(bad, BASS_TAG_META), nullptr);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
        EXPECT_FALSE(BASS_ChannelPlay(bad, 0));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
        EXPECT_EQ(BASS_ChannelSetSync(
                      bad, BASS_SYNC_META, 0, [](HSYNC, DWORD, DWORD, void*) {}, nullptr),
                  0u);
        EXPECT_EQ(BASS_StreamGetFilePosition(bad, BASS_FILEPOS_END), static_cast<QWORD>(-1));
    }
    // A stream that is not playing has no sound data.
    EXPECT_EQ(BASS_ChannelGetData(second, nullptr, 0), static_cast<DWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOPLAY);
}

TEST_F(StreamLife, FreeingTheLibraryEndsAnOpeningOnAnotherThread)
{
    kit::SilentServer silent;
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 20000);
    server.Route("/stall", Script().Send(LiveHead() + Mp3().substr(0, 5000)).Hang());
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 75);  // waits for a buffer that never fills
    struct Case {
        std::string url;
        // Whether the open is under way: its server has sent what it will.
        std::function<bool()> opening;
    };
    const Case cases[] = {
        {silent.Url("/"), [&] { return silent.HangingConnectionCount() > 0; }},
        {server.Url("/stall"), [&] { return server.HangingConnectionCount() > 0; }},
    };
    for (const Case& c : cases) {
        const std::string& url = c.url;
        SCOPED_TRACE(url);
        std::atomic<HSTREAM> result{1};
        std::atomic<bool> returned{false};
        std::thread opener([&] {
            result = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
            returned = true;
        });
        EXPECT_TRUE(WaitUntil(c.opening, std::chrono::seconds(5)));
        EXPECT_FALSE(returned);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(BASS_Free());
        EXPECT_TRUE(WaitUntil([&] { return returned.load(); }, std::chrono::milliseconds(200)));
        EXPECT_LT(SecondsSince(start), 0.25);
        opener.join();
        EXPECT_EQ(result, 0u);
        ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    }
}

TEST_F(StreamLife, AProxyOfOurOwnCarriesTheRequest)
{
    // The fake server plays the proxy: it sees the absolute address.
    server.Route("http://radio.invalid/live", Script().Send(LiveHead() + Mp3()));
    const std::string proxy = "user:secret@127.0.0.1:" + std::to_string(server.Port());
    ASSERT_TRUE(BASS_SetConfigPtr(BASS_CONFIG_NET_PROXY, proxy.c_str()));
    const HSTREAM stream = Open("http://radio.invalid/live");
    BASS_SetConfigPtr(BASS_CONFIG_NET_PROXY, "");
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    const std::string request = server.Requests().at(0);
    EXPECT_EQ(request.rfind("GET http://radio.invalid/live HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("Proxy-Authorization: Basic dXNlcjpzZWNyZXQ="), std::string::npos);
    BASS_StreamFree(stream);
}

}  // namespace
}  // namespace sonivex_test
