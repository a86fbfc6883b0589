// Streams whose connection ends while they play: the library gets them back
// by itself, on the same handle, or lets them end when they came whole.
#include <set>

#include "fake_server.h"
#include "library_test.h"
#include "test_sounds.h"

namespace sonivex_test {
namespace {

using kit::Script;

struct ReconnectRecord {
    std::mutex lock;
    std::vector<DWORD> data;
    std::vector<QWORD> connected;  // BASS_FILEPOS_CONNECTED at each call
    std::vector<double> seconds;   // since the record was made
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    static void Proc(HSYNC, DWORD channel, DWORD data, void* user)
    {
        auto* self = static_cast<ReconnectRecord*>(user);
        const QWORD connected = BASS_StreamGetFilePosition(channel, BASS_FILEPOS_CONNECTED);
        std::lock_guard guard(self->lock);
        self->data.push_back(data);
        self->connected.push_back(connected);
        self->seconds.push_back(SecondsSince(self->start));
    }
    std::vector<DWORD> Data()
    {
        std::lock_guard guard(lock);
        return data;
    }
    bool Back()
    {
        std::lock_guard guard(lock);
        return !data.empty() && data.back() == 0;
    }
};

// Zero crossings of the first channel in the latest 1024 frames the stream
// played: about 46 for a 1000 Hz tone, 93 for 2000 Hz.
int Crossings(HSTREAM stream)
{
    std::int16_t frames[2 * 1024];
    if (BASS_ChannelGetData(stream, frames, sizeof frames) != sizeof frames) return -1;
    int crossings = 0;
    for (int i = 2; i < 2 * 1024; i += 2)
        if ((frames[i - 2] < 0) != (frames[i] < 0)) ++crossings;
    return crossings;
}

struct Reconnect : LibraryTest {
    kit::FakeServer server;
    ReconnectRecord record;

    void SetUp() override
    {
        LibraryTest::SetUp();
        BASS_SetConfig(BASS_CONFIG_NET_RECONNECT, 60);
    }

    static std::string Head() { return Script::IcyHead({"content-type:audio/mpeg", "icy-name:Back"}); }
    static const std::string& Low()
    {
        static const std::string tone = kit::EncodeTone("mp3", 2, 1000);
        return tone;
    }
    static const std::string& High()
    {
        static const std::string tone = kit::EncodeTone("mp3", 4, 2000);
        return tone;
    }

    HSTREAM OpenAndPlay(const std::string& path)
    {
        const HSTREAM stream = Open(server.Url(path));
        EXPECT_NE(stream, 0u) << BASS_ErrorGetCode();
        if (stream == 0) return 0;
        EXPECT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_RECONNECT, 0, &ReconnectRecord::Proc,
                                      &record),
                  0u);
        EXPECT_TRUE(BASS_ChannelPlay(stream, 0));
        return stream;
    }
};

TEST_F(Reconnect, ADroppedStreamComesBackOnItsHandleWithItsTags)
{
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "connection reset" : "connection closed");
        const std::string path = reset ? "/reset" : "/closed";
        // Dropped once the stream is open and playing.
        Script dropped = Script().Send(Head() + Low()).Pause(500);
        if (reset) dropped.Reset(); else dropped.Close();
        server.RouteSequence(path, {dropped, Script().Send(Head()).Repeat(High(), 0)});
        const HSTREAM stream = OpenAndPlay(path);
        ASSERT_NE(stream, 0u);
        const std::vector<std::string> tags = TagLines(BASS_ChannelGetTags(stream, BASS_TAG_ICY));
        ASSERT_TRUE(WaitUntil([&] { return record.Back(); }, std::chrono::seconds(15)));
        {
            std::lock_guard guard(record.lock);
            ASSERT_GE(record.data.size(), 2u);
            EXPECT_EQ(record.data.front(), 1u);     // lost: the first round of tries
            EXPECT_EQ(record.connected.front(), 0u);  // not connected meanwhile
            EXPECT_EQ(record.connected.back(), 1u);   // and connected again
            std::printf("[ reconnect] lost at %.2f s, sound back at %.2f s\n", record.seconds.front(),
                        record.seconds.back());
        }
        EXPECT_EQ(TagLines(BASS_ChannelGetTags(stream, BASS_TAG_ICY)), tags);
        // The new connection's sound plays; the old one's does not come back.
        EXPECT_TRUE(WaitUntil([&] { return Crossings(stream) > 80; }, std::chrono::seconds(3)));
        EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED), 1u);
        BASS_StreamFree(stream);
        std::lock_guard guard(record.lock);
        record.data.clear();
        record.connected.clear();
        record.seconds.clear();
    }
}

TEST_F(Reconnect, AWholeFileAndAStreamWithReconnectOffEndAsTheyCame)
{
    const std::string file = Low();
    server.Route("/file", Script().Send(Script::HttpHead(200, "OK",
                                                         {"Content-Type: audio/mpeg",
                                                          "Content-Length: " +
                                                              std::to_string(file.size())}) +
                                        file));
    server.Route("/live", Script().Send(Head() + Low()).Pause(500).Close());
    struct Case {
        const char* path;
        DWORD reconnect;
    };
    for (const Case c : {Case{"/file", 60}, Case{"/live", 0}}) {
        SCOPED_TRACE(c.path);
        BASS_SetConfig(BASS_CONFIG_NET_RECONNECT, c.reconnect);
        const std::size_t before = server.Requests().size();
        const HSTREAM stream = OpenAndPlay(c.path);
        ASSERT_NE(stream, 0u);
        // It plays to its end and stops there.
        EXPECT_TRUE(WaitUntil(
            [&] {
                return BASS_ChannelGetData(stream, nullptr, 0) == static_cast<DWORD>(-1) &&
                       BASS_ErrorGetCode() == BASS_ERROR_NOPLAY;
            },
            std::chrono::seconds(10)));
        EXPECT_EQ(server.Requests().size(), before + 1);
        EXPECT_TRUE(record.Data().empty());
        BASS_StreamFree(stream);
    }
}

TEST_F(Reconnect, WhenTheAddressFailsThePlaylistsNextEntryPlays)
{
    server.RouteSequence("/a", {Script().Send(Head() + Low()).Pause(500).Close(),
                                Script().Send(Script::HttpHead(404, "Not Found", {}))});
    server.Route("/b", Script().Send(Head()).Repeat(High(), 0));
    server.Route("/list.pls", Script().Send(Script::HttpHead(200, "OK", {}) +
                                            "[playlist]\nFile1=" + server.Url("/a") +
                                            "\nFile2=" + server.Url("/b") + "\n"));
    const HSTREAM stream = OpenAndPlay("/list.pls");
    ASSERT_NE(stream, 0u);
    ASSERT_TRUE(WaitUntil([&] { return record.Back(); }, std::chrono::seconds(15)));
    const std::vector<std::string> requests = server.Requests();
    std::vector<std::string> targets;
    for (const std::string& request : requests) targets.push_back(request.substr(0, request.find(" HTTP")));
    EXPECT_EQ(targets, (std::vector<std::string>{"GET /list.pls", "GET /a", "GET /a", "GET /b"}));
    EXPECT_TRUE(WaitUntil([&] { return Crossings(stream) > 80; }, std::chrono::seconds(3)));
    BASS_StreamFree(stream);
}

TEST_F(Reconnect, TriesComeLessOftenAndFreeingEndsThemAtOnce)
{
    server.RouteSequence("/gone", {Script().Send(Head() + Low()).Pause(500).Close(),
                                   Script().Send(Script::HttpHead(503, "Unavailable", {}))});
    const HSTREAM stream = OpenAndPlay("/gone");
    ASSERT_NE(stream, 0u);
    // Round 1 begins when the connection is lost; rounds 2 and 3 after
    // pauses of 0.5 and 1 s (and their tries).
    ASSERT_TRUE(WaitUntil([&] { return record.Data().size() >= 3; }, std::chrono::seconds(15)));
    {
        std::lock_guard guard(record.lock);
        EXPECT_EQ(record.data, (std::vector<DWORD>{1, 2, 3}));
        const double first = record.seconds[1] - record.seconds[0];
        const double second = record.seconds[2] - record.seconds[1];
        EXPECT_GT(first, 0.45);
        EXPECT_GT(second, 0.95);
        EXPECT_GT(second, first);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(BASS_StreamFree(stream));
    EXPECT_LT(SecondsSince(start), 0.1);
}

}  // namespace
}  // namespace sonivex_test
