// Opening streams against scripted servers: answers and their tags, the
// in-band metadata, playlists, redirects and every way an address can fail.
#include "fake_server.h"
#include "library_test.h"
#include "test_sounds.h"

namespace sonivex_test {
namespace {

using kit::Script;

const std::string& Mp3()
{
    static const std::string tone = kit::EncodeTone("mp3", 4, 1000);
    return tone;
}

struct StreamOpen : LibraryTest {
    kit::FakeServer server;
    // Like the download records, out of reach of a sync still running
    // when its stream is freed.
    TitleRecord syncs;
};

TEST_F(StreamOpen, AnIcyAnswerGivesItsHeaderLinesExactlyAndNoHttpTags)
{
    const std::vector<std::string> lines = {"icy-notice1:<BR>This stream requires Winamp<BR>",
                                            "icy-name:Radio One",
                                            "icy-genre:Jazz",
                                            "icy-br: 128",
                                            "content-type:audio/mpeg",
                                            "icy-pub:1",
                                            "icy-metaint:8192"};
    server.Route("/live", Script().Send(Script::IcyHead(lines) +
                                        kit::IcyInterleave(Mp3(), 8192, {"StreamTitle='First';"})));
    DownloadRecord& record = NewRecord();
    const HSTREAM stream = Open(server.Url("/live"), &record);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(TagLines(BASS_ChannelGetTags(stream, BASS_TAG_ICY)), lines);
    EXPECT_EQ(BASS_ChannelGetTags(stream, BASS_TAG_HTTP), nullptr);
    EXPECT_EQ(record.Statuses(), std::vector<std::string>{"ICY 200 OK"});

    // What we asked for: metadata, and as no browser.
    const std::string request = server.Requests().at(0);
    EXPECT_NE(request.find("\r\nIcy-MetaData: 1\r\n"), std::string::npos);
    EXPECT_NE(request.find("\r\nUser-Agent: "), std::string::npos);
    EXPECT_EQ(request.find("Mozilla"), std::string::npos);
    BASS_StreamFree(stream);
}

TEST_F(StreamOpen, AnHttpAnswerGivesItsStatusAndHeaderLines)
{
    const std::vector<std::string> lines = {"Content-Type: audio/mpeg", "icy-name:Radio Two",
                                            "icy-br:128", "Cache-Control: no-cache"};
    server.Route("/", Script().Send(Script::HttpHead(200, "OK", lines) + Mp3()));
    DownloadRecord& record = NewRecord();
    const HSTREAM stream = Open(server.Url(), &record);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    std::vector<std::string> expected = {"HTTP/1.0 200 OK"};
    expected.insert(expected.end(), lines.begin(), lines.end());
    EXPECT_EQ(TagLines(BASS_ChannelGetTags(stream, BASS_TAG_HTTP)), expected);
    EXPECT_EQ(BASS_ChannelGetTags(stream, BASS_TAG_ICY), nullptr);
    EXPECT_EQ(BASS_ChannelGetTags(stream, BASS_TAG_META), nullptr);  // no metadata came
    EXPECT_EQ(record.Statuses(), std::vector<std::string>{"HTTP/1.0 200 OK"});
    BASS_StreamFree(stream);
}

// The audio handed to the download callback is the stream without its
// metadata, however the reads split the blocks.
TEST_F(StreamOpen, MetadataIsRemovedExactlyAtEveryBoundary)
{
    const std::string audio = Mp3().substr(0, 6 * 1000);
    const std::string body = kit::IcyInterleave(
        audio, 1000, {"StreamTitle='A';", "", std::string(4080, 'x'), "", "StreamTitle='B';"});
    struct Case {
        const char* name;
        Script script;
    };
    const std::string head = Script::IcyHead({"content-type:audio/mpeg", "icy-metaint:1000"});
    Case cases[] = {
        {"whole", Script().Send(head + body)},
        {"one byte at a time", Script().Send(head).SendSlowly(body, 1, 0)},
        {"odd pieces", Script().Send(head).SendSlowly(body, 997, 5)},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.Route("/s", c.script);
        DownloadRecord& record = NewRecord();
        const HSTREAM stream = Open(server.Url("/s"), &record);
        ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
        ASSERT_TRUE(WaitUntil([&] { return record.Ends() == 1; }, std::chrono::seconds(10)));
        EXPECT_EQ(record.Audio(), audio);
        // A title counts once its sound is heard: the last one by the end.
        ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
        EXPECT_TRUE(WaitUntil(
            [&] {
                const char* meta = BASS_ChannelGetTags(stream, BASS_TAG_META);
                return meta != nullptr && std::string(meta) == "StreamTitle='B';";
            },
            std::chrono::seconds(5)));
        EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD), audio.size());
        EXPECT_FALSE(record.overlapped);
        BASS_StreamFree(stream);
    }
}

TEST_F(StreamOpen, MetadataInsideChunkedTransferIsRemovedAfterDechunking)
{
    const std::string audio = Mp3().substr(0, 4000);
    const std::string body = kit::IcyInterleave(audio, 1000, {"StreamTitle='Chunked';"});
    std::string chunked;
    for (std::size_t at = 0; at < body.size(); at += 333)
        chunked += kit::Chunk(body.substr(at, 333));
    chunked += kit::Chunk("");
    server.Route("/c",
                 Script().Send(Script::HttpHead(200, "OK",
                                                {"Content-Type: audio/mpeg", "icy-metaint: 1000",
                                                 "Transfer-Encoding: chunked"},
                                                "HTTP/1.1") +
                               chunked));
    DownloadRecord& record = NewRecord();
    const HSTREAM stream = Open(server.Url("/c"), &record);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(WaitUntil([&] { return record.Ends() == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(record.Audio(), audio);
    EXPECT_STREQ(BASS_ChannelGetTags(stream, BASS_TAG_META), "StreamTitle='Chunked';");
    BASS_StreamFree(stream);
}


TEST_F(StreamOpen, AMetaSyncFiresForEachNewTextOnly)
{
    // One block before the sync is set; then a repeat (no sync), two new
    // titles, an empty block (no sync), a title that returns, and a last
    // one whose sync comes after any that the blocks before it could bring;
    // a pause after each, so that each sync finds its own text.
    const std::string audio = Mp3().substr(0, 2000);
    const std::string head = Script::IcyHead({"content-type:audio/mpeg", "icy-metaint:2000"});
    Script script;
    script.Send(head);
    for (const char* title : {"StreamTitle='A';", "StreamTitle='A';", "StreamTitle='B';", "",
                              "StreamTitle='C';", "StreamTitle='A';", "StreamTitle='Last';"})
        script.Send(audio + kit::MetadataBlock(title)).Pause(150);
    // The sound the last title names.
    server.Route("/m", script.Send(audio + audio).Hang());
    const HSTREAM stream = Open(server.Url("/m"));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(WaitUntil(
        [&] {
            const char* meta = BASS_ChannelGetTags(stream, BASS_TAG_META);
            return meta != nullptr && std::string(meta) == "StreamTitle='A';";
        },
        std::chrono::seconds(2)));
    ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_META, 0, &TitleRecord::Proc, &syncs), 0u);
    // Later titles count as their sound is played. Syncs run in order, so
    // once the last title's has run, every earlier one has.
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    ASSERT_TRUE(WaitUntil([&] { return syncs.Saw("StreamTitle='Last';"); }, std::chrono::seconds(5)));
    // The first title is already in the tags when the sync is set, but its
    // sound may not have been reached yet: then it comes once more, as the
    // first. Never twice.
    std::vector<std::string> titles = syncs.Titles();
    if (!titles.empty() && titles.front() == "StreamTitle='A';") titles.erase(titles.begin());
    EXPECT_EQ(titles, (std::vector<std::string>{"StreamTitle='B';", "StreamTitle='C';", "StreamTitle='A';",
                                                "StreamTitle='Last';"}));
    EXPECT_EQ(BASS_ChannelSetSync(stream, 99, 0, &TitleRecord::Proc, &syncs), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    BASS_StreamFree(stream);
}

TEST_F(StreamOpen, PlaylistsAreFollowedToTheirFirstEntryThatPlays)
{
    const std::string stream =
        Script::IcyHead({"content-type:audio/mpeg", "icy-name:Found"}) + Mp3();
    server.Route("/radio/stream", Script().Send(stream));
    server.Route("/live", Script().Send(stream));
    server.Route("/deep", Script().Send(stream));
    const std::string dead = "http://127.0.0.1:" + std::to_string(kit::UnusedPort()) + "/gone";
    server.Route(
        "/radio/list.pls",
        Script().Send(Script::HttpHead(200, "OK", {"Content-Type: audio/x-scpls"}) +
                      "\xEF\xBB\xBF[playlist]\r\nNumberOfEntries=2\r\nFile2=stream\r\nFile1=" +
                      dead + "\r\n"));
    server.Route("/list.m3u",
                 Script().Send(Script::HttpHead(200, "OK", {"Content-Type: text/plain"}) +
                               "#EXTM3U\n#EXTINF:-1,Live\n/missing\n/live\n"));
    server.Route("/outer.pls",
                 Script().Send(Script::HttpHead(200, "OK", {}) +
                               "[playlist]\nFile1=" + server.Url("/inner.m3u") + "\n"));
    server.Route("/inner.m3u", Script().Send(Script::HttpHead(200, "OK", {}) + "deep\n"));
    for (const char* path : {"/radio/list.pls", "/list.m3u", "/outer.pls"}) {
        SCOPED_TRACE(path);
        DownloadRecord& record = NewRecord();
        const HSTREAM handle = Open(server.Url(path), &record);
        ASSERT_NE(handle, 0u) << BASS_ErrorGetCode();
        EXPECT_EQ(TagLines(BASS_ChannelGetTags(handle, BASS_TAG_ICY)).at(1), "icy-name:Found");
        EXPECT_EQ(record.Statuses().back(), "ICY 200 OK");
        EXPECT_FALSE(record.overlapped);
        BASS_StreamFree(handle);
    }
}

TEST_F(StreamOpen, PlaylistsThatLeadNowhereFailAsNoAudio)
{
    server.Route("/loop.pls", Script().Send(Script::HttpHead(200, "OK", {}) +
                                            "[playlist]\nFile1=" + server.Url("/loop.pls") + "\n"));
    server.Route("/empty.m3u", Script().Send(Script::HttpHead(200, "OK", {}) + "#EXTM3U\n"));
    server.Route("/local.m3u",
                 Script().Send(Script::HttpHead(200, "OK", {}) + "file:///etc/passwd\n"));
    // Four levels down: deeper than playlists are followed.
    for (int level = 1; level <= 4; ++level)
        server.Route("/n" + std::to_string(level) + ".pls",
                     Script().Send(Script::HttpHead(200, "OK", {}) + "[playlist]\nFile1=n" +
                                   std::to_string(level + 1) + ".pls\n"));
    server.Route("/n5.pls", Script().Send(Script::IcyHead({"content-type:audio/mpeg"}) + Mp3()));
    for (const char* path : {"/loop.pls", "/empty.m3u", "/local.m3u", "/n1.pls"}) {
        SCOPED_TRACE(path);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Open(server.Url(path)), 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAUDIO);
        EXPECT_LT(SecondsSince(start), 3.0);
    }
    // Three levels are followed.
    EXPECT_NE(Open(server.Url("/n2.pls")), 0u) << BASS_ErrorGetCode();
}

TEST_F(StreamOpen, RedirectsAreFollowedUpToTenTimes)
{
    server.Route(
        "/final",
        Script().Send(Script::IcyHead({"content-type:audio/mpeg", "icy-name:End"}) + Mp3()));
    for (int hop = 1; hop <= 11; ++hop) {
        const std::string next = hop == 1 ? "/final" : "/hop" + std::to_string(hop - 1);
        // Absolute and relative Locations, and the redirect statuses in use.
        const int status = std::vector<int>{301, 302, 303, 307, 308}[hop % 5];
        server.Route("/hop" + std::to_string(hop),
                     Script().Send(Script::HttpHead(
                         status, "Moved",
                         {"Location: " + (hop % 2 ? server.Url(next) : next), "icy-metaint: 16"})));
    }
    DownloadRecord& record = NewRecord();
    const HSTREAM stream = Open(server.Url("/hop10"), &record);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(record.Statuses().size(), 11u);  // ten redirects and the stream
    EXPECT_EQ(record.Statuses().back(), "ICY 200 OK");
    // The redirects' icy-metaint said nothing about the stream: it plays whole.
    EXPECT_EQ(TagLines(BASS_ChannelGetTags(stream, BASS_TAG_ICY)).at(1), "icy-name:End");
    ASSERT_TRUE(WaitUntil([&] { return record.Ends() == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(record.Audio(), Mp3());
    BASS_StreamFree(stream);

    EXPECT_EQ(Open(server.Url("/hop11")), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HTTP);
}

TEST_F(StreamOpen, EachWayToFailHasItsOwnCodeAndEndsQuickly)
{
    server.Route("/404",
                 Script().Send(Script::HttpHead(404, "Not Found", {"Content-Type: text/html"}) +
                               "<html>gone</html>"));
    server.Route("/icy404", Script().Send("ICY 404 Resource Not Found\r\n\r\n"));
    server.Route("/page",
                 Script().Send(Script::HttpHead(200, "OK", {"Content-Type: text/html"}) +
                               "<!DOCTYPE html><html><body>SHOUTcast status</body></html>"));
    server.Route("/disguised",
                 Script().Send(Script::HttpHead(200, "OK", {"Content-Type: audio/mpeg"}) +
                               "<html><body>Not a stream</body></html>"));
    std::string noise(70000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    server.Route("/noise",
                 Script().Send(Script::HttpHead(200, "OK", {"Content-Type: audio/mpeg"}) + noise));
    server.Route("/nothing", Script().Close());
    kit::SilentServer silent;
    struct Case {
        std::string url;
        int error;
        std::vector<std::string> statuses;
    };
    const Case cases[] = {
        {server.Url("/404"), BASS_ERROR_HTTP, {"HTTP/1.0 404 Not Found"}},
        {server.Url("/icy404"), BASS_ERROR_HTTP, {}},
        {server.Url("/page"), BASS_ERROR_NOTAUDIO, {"HTTP/1.0 200 OK"}},
        {server.Url("/disguised"), BASS_ERROR_NOTAUDIO, {"HTTP/1.0 200 OK"}},
        {server.Url("/noise"), BASS_ERROR_FORMAT, {"HTTP/1.0 200 OK"}},
        {server.Url("/nothing"), BASS_ERROR_CONNECT, {}},
        {"http://127.0.0.1:" + std::to_string(kit::UnusedPort()) + "/", BASS_ERROR_CONNECT, {}},
        {"http://no-such-host.invalid/", BASS_ERROR_NOHOST, {}},
        {silent.Url("/"), BASS_ERROR_TIMEOUT, {}},
        {"ftp://127.0.0.1/radio.mp3", BASS_ERROR_ILLPARAM, {}},
        {"/etc/passwd", BASS_ERROR_ILLPARAM, {}},
        {"", BASS_ERROR_ILLPARAM, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        DownloadRecord& record = NewRecord();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Open(c.url, &record), 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), c.error);
        EXPECT_EQ(record.Statuses(), c.statuses);
        EXPECT_LT(SecondsSince(start), 3.0);  // the silent server: the 2 s limit
    }
}

}  // namespace
}  // namespace sonivex_test
