// The kit's own checks: the servers send exactly what a case says, the ICY
// framing sits where a player expects it, the sounds are what their names
// promise, and the real Icecast server streams and retitles.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fake_server.h"
#include "icecast_server.h"
#include "test_sounds.h"
#include "wait_until.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A plain client socket, so the servers are checked without the library.
class Client {
public:
    explicit Client(int port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return connected_; }
    void Send(std::string_view bytes)
    {
        ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Reads until the server closes, `limit` bytes arrive or the time is up.
    // `closedBy` tells how it ended: 0 for a clean close, an errno for an
    // error, -1 for still open.
    std::string Read(std::chrono::milliseconds timeout, std::size_t limit = 1 << 20)
    {
        std::string bytes;
        closedBy = -1;
        const auto deadline = Clock::now() + timeout;
        while (bytes.size() < limit && Clock::now() < deadline) {
            pollfd one{fd_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (poll(&one, 1, static_cast<int>(std::max<long>(0, left.count()))) <= 0) break;
            char buffer[8192];
            const ssize_t got = recv(fd_, buffer, std::min(sizeof buffer, limit - bytes.size()), 0);
            if (got <= 0) {
                closedBy = got == 0 ? 0 : errno;
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
        return bytes;
    }
    // The bytes that have come and wait to be read.
    int Unread() const
    {
        int bytes = 0;
        return ioctl(fd_, FIONREAD, &bytes) == 0 ? bytes : -1;
    }
    void Close()
    {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    int closedBy = -1;

private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string Get(std::string_view target, std::string_view extraLines = "")
{
    return "GET " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           std::string(extraLines) + "\r\n";
}

// A player's view of an ICY body: the audio with the blocks taken out, and
// the text of every block (zero padding removed). Stops at a cut-off block.
struct IcyBody {
    std::string audio;
    std::vector<std::string> blocks;
};

IcyBody SplitIcy(std::string_view body, std::size_t metaint)
{
    IcyBody split;
    while (body.size() > metaint) {
        split.audio.append(body.substr(0, metaint));
        const std::size_t length = static_cast<unsigned char>(body[metaint]) * 16u;
        if (body.size() < metaint + 1 + length) return split;
        std::string text(body.substr(metaint + 1, length));
        text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
        split.blocks.push_back(text);
        body.remove_prefix(metaint + 1 + length);
    }
    split.audio.append(body);
    return split;
}

// The frequency of the first channel, from the rising crossings of a band
// around zero: cycles between the first and the last crossing, so that an
// encoder's leading and trailing silence and its low-level noise don't count.
double Frequency(const std::vector<std::int16_t>& samples, int sampleRate, int channels = 2)
{
    std::vector<std::size_t> rising;
    bool low = false;
    for (std::size_t i = 0; i < samples.size(); i += static_cast<std::size_t>(channels)) {
        if (samples[i] < -4000) low = true;
        if (low && samples[i] > 4000) {
            rising.push_back(i / static_cast<std::size_t>(channels));
            low = false;
        }
    }
    if (rising.size() < 2) return 0;
    return (rising.size() - 1) * static_cast<double>(sampleRate) / (rising.back() - rising.front());
}

int Peak(const std::vector<std::int16_t>& samples)
{
    int peak = 0;
    for (std::int16_t sample : samples)
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    return peak;
}

// ------------------------------------------------------------ fake server

TEST(FakeServer, SendsExactlyTheScriptedBytesAndKeepsTheRequestAsSent)
{
    kit::FakeServer server;
    const std::string head = kit::Script::IcyHead({"icy-name:Kit", "icy-metaint:8"});
    server.Route("/live?station=1", kit::Script()
                                        .Send(head)
                                        .SendSlowly("0123456789", 3, 20)
                                        .Pause(50)
                                        .Send("tail")
                                        .Close()
                                        .Send("never sent"));
    const std::string request = Get("/live?station=1", "Icy-MetaData: 1\r\nUser-Agent: t\r\n");

    Client client(server.Port());
    ASSERT_TRUE(client.Connected());
    const auto start = Clock::now();
    client.Send(request);
    EXPECT_EQ(client.Read(3s), head + "0123456789tail");
    EXPECT_EQ(client.closedBy, 0);
    EXPECT_GE(Clock::now() - start, 3 * 20ms + 50ms);  // three pauses inside, one after

    ASSERT_TRUE(server.WaitForRequests(1, 1s));
    EXPECT_EQ(server.Requests(), std::vector<std::string>{request});
    EXPECT_EQ(server.ConnectionCount(), 1);
    EXPECT_EQ(head, "ICY 200 OK\r\nicy-name:Kit\r\nicy-metaint:8\r\n\r\n");
    EXPECT_EQ(kit::Script::HttpHead(302, "Found", {"Location: /b"}, "HTTP/1.1"),
              "HTTP/1.1 302 Found\r\nLocation: /b\r\n\r\n");
}

TEST(FakeServer, RoutesByExactTargetRepeatsTheLastOfASequenceAndAnswers404Otherwise)
{
    kit::FakeServer server;
    server.Route("/a", kit::Script().Send("A"));
    server.RouteSequence("/seq", {kit::Script().Send("first"), kit::Script().Send("second")});

    const auto fetch = [&](std::string_view target) {
        return kit::RawExchange(server.Port(), Get(target));
    };
    EXPECT_EQ(fetch("/a"), "A");
    EXPECT_EQ(fetch("/a"), "A");
    EXPECT_EQ(fetch("/seq"), "first");
    EXPECT_EQ(fetch("/seq"), "second");
    EXPECT_EQ(fetch("/seq"), "second");
    EXPECT_TRUE(fetch("/a?x").starts_with("HTTP/1.0 404 Not Found\r\n"));
    EXPECT_TRUE(fetch("/").starts_with("HTTP/1.0 404 Not Found\r\n"));
    EXPECT_EQ(server.ConnectionCount(), 7);
    EXPECT_EQ(server.Url("/x"), "http://127.0.0.1:" + std::to_string(server.Port()) + "/x");

    // A bare-LF head counts as a request too.
    EXPECT_EQ(kit::RawExchange(server.Port(), "GET /a HTTP/1.0\n\n"), "A");
}

TEST(FakeServer, ResetsStallsAndEndlessStreamsEndWhenTheClientLeaves)
{
    kit::FakeServer server;
    server.Route("/reset", kit::Script().Send("x").Pause(50).Reset());
    server.Route("/hang", kit::Script().Send("head").Hang());
    server.Route("/endless", kit::Script().Repeat("ab", 0));

    {
        Client client(server.Port());
        client.Send(Get("/reset"));
        client.Read(2s);
        EXPECT_EQ(client.closedBy, ECONNRESET);
    }
    {
        Client client(server.Port());
        client.Send(Get("/hang"));
        EXPECT_EQ(client.Read(300ms), "head");
        EXPECT_EQ(client.closedBy, -1);  // still open, still silent
        EXPECT_EQ(server.OpenConnectionCount(), 1);
        EXPECT_EQ(server.HangingConnectionCount(), 1);
    }
    EXPECT_TRUE(kit::WaitUntil([&] { return server.OpenConnectionCount() == 0; }, 2s));
    EXPECT_EQ(server.HangingConnectionCount(), 0);
    {
        Client client(server.Port());
        client.Send(Get("/endless"));
        const std::string bytes = client.Read(2s, 100000);
        ASSERT_EQ(bytes.size(), 100000u);
        EXPECT_EQ(bytes.find_first_not_of("ab"), std::string::npos);
        EXPECT_EQ(bytes.find("aa"), std::string::npos);
    }
    EXPECT_TRUE(kit::WaitUntil([&] { return server.OpenConnectionCount() == 0; }, 2s));
}

TEST(FakeServer, StopsPromptlyWithClientsStillConnected)
{
    auto server = std::make_unique<kit::FakeServer>();
    server->Route("/hang", kit::Script().Hang());
    server->Route("/endless", kit::Script().Repeat(std::string(4096, 'z'), 1));
    Client hanging(server->Port());
    Client unread(server->Port());   // never reads: the server blocks in send
    Client waiting(server->Port());  // never sends its request
    hanging.Send(Get("/hang"));
    unread.Send(Get("/endless"));
    ASSERT_TRUE(server->WaitForRequests(2, 1s));
    // The unread socket's buffers are full, and the server blocked in send,
    // once what waits there stops growing (it comes every millisecond
    // while there is room).
    int last = -1, steady = 0;
    ASSERT_TRUE(kit::WaitUntil(
        [&] {
            const int now = unread.Unread();
            steady = now > 0 && now == last ? steady + 1 : 0;
            last = now;
            return steady == 3;
        },
        5s));

    const auto start = Clock::now();
    server.reset();
    EXPECT_LT(Clock::now() - start, 1s);
    hanging.Read(1s);
    EXPECT_EQ(hanging.closedBy, 0);
}

TEST(FakeServer, SilentServerAcceptsAndNeverAnswersAndUnusedPortRefuses)
{
    kit::SilentServer silent;
    Client client(silent.Port());
    ASSERT_TRUE(client.Connected());
    client.Send(Get("/"));
    EXPECT_EQ(client.Read(300ms), "");
    EXPECT_EQ(client.closedBy, -1);
    EXPECT_EQ(silent.ConnectionCount(), 1);
    EXPECT_EQ(silent.HangingConnectionCount(), 1);

    Client refused(kit::UnusedPort());
    EXPECT_FALSE(refused.Connected());
    EXPECT_THROW(kit::RawExchange(kit::UnusedPort(), Get("/")), std::runtime_error);
}

// ------------------------------------------------------------ ICY framing

TEST(IcyFraming, BlocksSitExactlyEveryMetaintBytes)
{
    const std::string body = kit::IcyInterleave("0123456789", 4, {"A", ""});
    const std::string titleA = std::string(1, '\x01') + "A" + std::string(15, '\0');
    EXPECT_EQ(body, "0123" + titleA + "4567" + std::string(1, '\0') + "89");

    EXPECT_EQ(kit::MetadataBlock("").size(), 1u);
    EXPECT_EQ(kit::MetadataBlock(std::string(16, 'x'))[0], 1);
    EXPECT_EQ(kit::MetadataBlock(std::string(17, 'x'))[0], 2);
    const std::string longest = kit::MetadataBlock(std::string(4080, 'x'));
    EXPECT_EQ(static_cast<unsigned char>(longest[0]), 255);
    EXPECT_EQ(longest.size(), 4081u);
    EXPECT_THROW(kit::MetadataBlock(std::string(4081, 'x')), std::invalid_argument);

    // A player that strips the blocks gets the audio and the texts back,
    // also with a 4080-byte text and boundaries beyond the list.
    std::string audio;
    for (int i = 0; i < 5000; ++i)
        audio += static_cast<char>(i * 7);
    const std::string title = "StreamTitle='" + std::string(4080 - 15, 'T') + "';";
    const IcyBody split = SplitIcy(kit::IcyInterleave(audio, 1000, {"", title, "B"}), 1000);
    EXPECT_EQ(split.audio, audio);
    EXPECT_EQ(split.blocks, (std::vector<std::string>{"", title, "B", "", ""}));

    EXPECT_EQ(kit::Chunk("hello") + kit::Chunk(""), "5\r\nhello\r\n0\r\n\r\n");
}

// ------------------------------------------------------------ test sounds

class TestSounds : public testing::Test {
protected:
    void SetUp() override
    {
        if (!kit::FfmpegAvailable()) GTEST_SKIP() << "no ffmpeg command";
    }
};

TEST_F(TestSounds, EachCodecGivesItsStreamFormatAndAFullScaleToneOfTheRightPitch)
{
    struct Case {
        const char* codec;
        int sampleRate;
        std::string start;
    };
    const std::vector<Case> cases = {{"mp3", 44100, "\xFF"},
                                     {"aac", 44100, "\xFF"},
                                     {"vorbis", 44100, "OggS"},
                                     {"opus", 48000, "OggS"},
                                     {"flac", 44100, "fLaC"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codec);
        const std::string bytes = kit::EncodeTone(c.codec, 1.0, 1000, c.sampleRate, 2, 128);
        ASSERT_GT(bytes.size(), 1000u);
        EXPECT_TRUE(bytes.starts_with(c.start));
        if (std::string(c.codec) == "mp3") {
            EXPECT_EQ(bytes[1] & 0xE0, 0xE0);  // MPEG frame sync
        }
        if (std::string(c.codec) == "aac") {
            EXPECT_EQ(bytes[1] & 0xF6, 0xF0);  // ADTS sync, layer 0
        }
        EXPECT_EQ(kit::EncodeTone(c.codec, 1.0, 1000, c.sampleRate, 2, 128), bytes);

        const std::vector<std::int16_t> pcm = kit::DecodeToPcm(bytes);
        EXPECT_NEAR(pcm.size() / 2.0, 44100, 44100 * 0.1);
        EXPECT_NEAR(Frequency(pcm, 44100), 1000, 20);
        EXPECT_GT(Peak(pcm), 30000);
    }
    const std::vector<std::int16_t> mono =
        kit::DecodeToPcm(kit::EncodeTone("flac", 0.5, 440, 44100, 1, 0), 44100, 1);
    EXPECT_GE(Peak(mono), 32767);
    EXPECT_NEAR(Frequency(mono, 44100, 1), 440, 5);
    EXPECT_THROW(kit::EncodeTone("wma", 1.0, 440), std::invalid_argument);
    EXPECT_THROW(kit::DecodeToPcm("not a sound"), std::runtime_error);
}

// The Ogg CRC computed bit by bit, apart from the kit's table.
std::uint32_t SlowOggCrc(std::string page)
{
    std::fill(page.begin() + 22, page.begin() + 26, '\0');
    std::uint32_t crc = 0;
    for (unsigned char byte : page) {
        crc ^= static_cast<std::uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

TEST_F(TestSounds, TaggedOggLinksChainAsSeparateLogicalStreams)
{
    const std::string first = kit::EncodeWithTags("vorbis", 1.0, 440, "Kit Artist", "One");
    EXPECT_NE(first.find("Kit Artist"), std::string::npos);
    EXPECT_NE(first.find("One"), std::string::npos);
    const std::string opus = kit::EncodeWithTags("opus", 1.0, 440, "Kit Artist", "Two");
    EXPECT_NE(opus.find("OpusTags"), std::string::npos);
    EXPECT_NE(opus.find("Two"), std::string::npos);
    EXPECT_THROW(kit::EncodeWithTags("mp3", 1.0, 440, "a", "b"), std::invalid_argument);

    // The same cached file twice: the second link must get a new serial.
    const std::string chain = kit::ChainOgg({first, first, opus});
    ASSERT_EQ(chain.size(), 2 * first.size() + opus.size());
    std::vector<std::uint32_t> beginnings;
    for (std::size_t at = 0; at < chain.size();) {
        ASSERT_EQ(chain.compare(at, 4, "OggS"), 0);
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(chain[at + i]); };
        std::size_t size = 27 + byte(26);
        for (std::size_t i = 0; i < byte(26); ++i)
            size += byte(27 + i);
        const std::uint32_t stored =
            byte(22) | byte(23) << 8 | byte(24) << 16 | static_cast<std::uint32_t>(byte(25)) << 24;
        EXPECT_EQ(stored, SlowOggCrc(chain.substr(at, size))) << "page at " << at;
        if (byte(5) & 2)
            beginnings.push_back(byte(14) | byte(15) << 8 | byte(16) << 16 |
                                 static_cast<std::uint32_t>(byte(17)) << 24);
        at += size;
    }
    ASSERT_EQ(beginnings.size(), 3u);
    EXPECT_NE(beginnings[0], beginnings[1]);
    EXPECT_NE(beginnings[1], beginnings[2]);
    EXPECT_NE(beginnings[0], beginnings[2]);
}

// ------------------------------------------------------------ Icecast

std::string HeadOf(const std::string& answer)
{
    return answer.substr(0, answer.find("\r\n\r\n") + 4);
}

std::size_t MetaintOf(const std::string& head)
{
    const std::size_t at = head.find("icy-metaint:");
    return at == std::string::npos ? 0 : std::stoul(head.substr(at + 12));
}

// Reads from the client until `done` holds for everything read so far.
template <typename Condition>
std::string ListenUntil(Client& client, Condition done, std::chrono::milliseconds timeout = 6s)
{
    std::string bytes;
    const auto deadline = Clock::now() + timeout;
    while (!done(bytes) && Clock::now() < deadline && client.closedBy == -1)
        bytes += client.Read(100ms, 4096);
    return bytes;
}

TEST(Icecast, StreamsAToneWithIcyMetadataAndTakesNewTitles)
{
    if (!kit::IcecastServer::Available()) GTEST_SKIP() << "no icecast2 or ffmpeg";
    kit::IcecastServer icecast;
    icecast.StartSource("/tone.mp3", "mp3", 440, 128, {.name = "Kit Radio"});
    EXPECT_EQ(icecast.MountUrl("tone.mp3"),
              "http://127.0.0.1:" + std::to_string(icecast.Port()) + "/tone.mp3");

    const std::string listen = "GET /tone.mp3 HTTP/1.0\r\nIcy-MetaData: 1\r\n\r\n";
    const std::string answer = kit::RawExchange(icecast.Port(), listen, 20000, 5000);
    const std::string head = HeadOf(answer);
    EXPECT_TRUE(head.starts_with("HTTP/1.0 200 OK\r\n")) << head;
    EXPECT_NE(head.find("Content-Type: audio/mpeg\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("icy-name:Kit Radio\r\n"), std::string::npos) << head;
    ASSERT_EQ(MetaintOf(head), 16000u) << head;
    const IcyBody body = SplitIcy(std::string_view(answer).substr(head.size()), 16000);
    ASSERT_FALSE(body.blocks.empty());
    EXPECT_EQ(body.blocks[0], "StreamTitle='';");
    const std::vector<std::int16_t> pcm = kit::DecodeToPcm(body.audio);
    EXPECT_NEAR(Frequency(pcm, 44100), 440, 5);
    EXPECT_GT(Peak(pcm), 30000);

    // A listener hears the new title at a block boundary after the change.
    Client listener(icecast.Port());
    listener.Send(listen);
    icecast.SetTitle("/tone.mp3", "Kit Artist - Kit's Song");
    const std::string title = "StreamTitle='Kit Artist - Kit's Song';";
    const std::string titled = ListenUntil(listener, [&](const std::string& bytes) {
        const std::string h = HeadOf(bytes);
        const IcyBody split = SplitIcy(std::string_view(bytes).substr(h.size()), 16000);
        return std::find(split.blocks.begin(), split.blocks.end(), title) != split.blocks.end();
    });
    EXPECT_NE(titled.find(title), std::string::npos);

    // On the air for more than a second by now: a new listener gets what
    // was sent meanwhile at once, far more than the 1600 bytes of 100 ms of
    // live sound.
    EXPECT_GT(icecast.BurstBytes("/tone.mp3"), 12000u);

    icecast.StopSource("/tone.mp3");
    EXPECT_TRUE(kit::RawExchange(icecast.Port(), listen, 1000, 2000).starts_with("HTTP/1.0 404"));
    EXPECT_EQ(icecast.BurstBytes("/tone.mp3"), 0u);
}

TEST(Icecast, OggMountsCarryNoIcyMetadataAndVorbisTitlesStartANewLink)
{
    if (!kit::IcecastServer::Available()) GTEST_SKIP() << "no icecast2 or ffmpeg";
    kit::IcecastServer icecast;
    icecast.StartSource("tone.ogg", "vorbis", 440, 128);
    icecast.StartSource("tone.opus", "opus", 440, 96);

    Client listener(icecast.Port());
    listener.Send("GET /tone.ogg HTTP/1.0\r\nIcy-MetaData: 1\r\n\r\n");
    std::string stream = ListenUntil(listener, [](const std::string& bytes) {
        return bytes.find("\r\n\r\nOggS") != std::string::npos;
    });
    const std::string head = HeadOf(stream);
    EXPECT_NE(head.find("Content-Type: application/ogg\r\n"), std::string::npos) << head;
    EXPECT_EQ(MetaintOf(head), 0u) << head;
    EXPECT_EQ(stream.compare(head.size(), 4, "OggS"), 0);

    icecast.SetTitle("/tone.ogg", "Kit Title");
    stream += ListenUntil(listener, [](const std::string& bytes) {
        return bytes.find("title=Kit Title") != std::string::npos;
    });
    // The new comments come in a new link of the chain: Icecast restarts the
    // Vorbis headers, identification header first.
    const std::string identification("\x01vorbis", 7);
    const std::size_t firstLink = stream.find(identification);
    const std::size_t secondLink = stream.find(identification, firstLink + 1);
    const std::size_t comments = stream.find("title=Kit Title");
    ASSERT_NE(comments, std::string::npos);
    EXPECT_LT(secondLink, comments);

    Client opusListener(icecast.Port());
    opusListener.Send("GET /tone.opus HTTP/1.0\r\n\r\n");
    const std::string opusHead = HeadOf(ListenUntil(opusListener, [](const std::string& bytes) {
        return bytes.find("\r\n\r\n") != std::string::npos;
    }));
    EXPECT_NE(opusHead.find("Content-Type: audio/ogg\r\n"), std::string::npos) << opusHead;
    EXPECT_THROW(icecast.SetTitle("/tone.opus", "x"), std::runtime_error);
}

}  // namespace
