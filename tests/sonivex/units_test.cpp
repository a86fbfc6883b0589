// The audio library's inner units, each on its own: the ICY demuxer, the
// header lookups, the ID3 reader, the rings, the mixer and the spectrum.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

#include "byte_ring.h"
#include "frame_ring.h"
#include "http_headers.h"
#include "icy_demux.h"
#include "id3.h"
#include "mixer.h"
#include "spectrum.h"
#include "stream.h"
#include "sync_dispatcher.h"

namespace sonivex {
namespace {

std::string Block(const std::string& text)
{
    const std::size_t units = (text.size() + 15) / 16;
    std::string block(1, static_cast<char>(units));
    block += text;
    block.append(units * 16 - text.size(), '\0');
    return block;
}

struct Demuxed {
    std::string audio;
    std::vector<std::string> metadata;
};

Demuxed Demux(std::size_t metaint, const std::string& body, std::mt19937* splits)
{
    IcyDemux demux;
    demux.Reset(metaint);
    Demuxed out;
    const auto audio = [&](const std::uint8_t* data, std::size_t n) {
        out.audio.append(reinterpret_cast<const char*>(data), n);
    };
    const auto meta = [&](std::string_view text) { out.metadata.emplace_back(text); };
    std::size_t at = 0;
    while (at < body.size()) {
        // One byte at a time, or random pieces of up to 40 bytes.
        std::size_t n = splits ? 1 + (*splits)() % 40 : 1;
        n = std::min(n, body.size() - at);
        demux.Feed(reinterpret_cast<const std::uint8_t*>(body.data() + at), n, audio, meta);
        at += n;
    }
    return out;
}

TEST(IcyDemux, TakesOutEveryBlockWhereverTheReadsSplitThem)
{
    std::string audio;
    for (int i = 0; i < 100; ++i)
        audio += static_cast<char>('a' + i % 26);
    const std::string longest(4080, 'x');  // length byte 255
    std::string body = audio.substr(0, 32) + Block("StreamTitle='One';") + audio.substr(32, 32) +
                       std::string(1, '\0') + audio.substr(64, 32) + Block(longest) +
                       audio.substr(96, 4);
    for (int round = 0; round < 50; ++round) {
        std::mt19937 random(round);
        const Demuxed out = Demux(32, body, round == 0 ? nullptr : &random);
        ASSERT_EQ(out.audio, audio) << round;
        ASSERT_EQ(out.metadata, (std::vector<std::string>{"StreamTitle='One';", longest}));
    }
    EXPECT_EQ(Block(longest)[0], '\xFF');
}

TEST(IcyDemux, WithoutMetaintEverythingIsAudio)
{
    const std::string body = std::string("\x05StreamTitle='x';") + std::string(100, '\0');
    EXPECT_EQ(Demux(0, body, nullptr).audio, body);
    for (const char* value : {"", "0", "-16000", "abc", "16000x", "99999999999"})
        EXPECT_EQ(IcyDemux::ParseMetaint(value), 0u) << value;
    EXPECT_EQ(IcyDemux::ParseMetaint("16000"), 16000u);
    EXPECT_EQ(IcyDemux::ParseMetaint(" 8192 "), 8192u);
}

TEST(IcyDemux, ABlockIsCutAtItsFirstZeroAndEmptyBlocksAreNoTitle)
{
    const std::string body = "abcd" + Block(std::string("StreamTitle='A';\0junk", 21)) + "efgh" +
                             Block(std::string(5, '\0')) + "ijkl";
    const Demuxed out = Demux(4, body, nullptr);
    EXPECT_EQ(out.audio, "abcdefghijkl");
    EXPECT_EQ(out.metadata, (std::vector<std::string>{"StreamTitle='A';"}));
}

TEST(HttpHeaders, LookupsFollowWhatServersSend)
{
    HttpHeaders headers;
    headers.Begin("ICY 200 OK");
    headers.Add("icy-name:Radio X");
    headers.Add("ICY-BR: 128");
    headers.Add("icy-notice1:<BR>This stream requires Winamp<BR>");
    headers.Add("no colon here");
    headers.Add("icy-metaint:16000");
    EXPECT_TRUE(headers.IsIcy());
    EXPECT_EQ(headers.StatusCode(), 200);
    EXPECT_EQ(headers.Find("Icy-Name"), "Radio X");
    EXPECT_EQ(headers.Find("icy-br"), "128");
    EXPECT_FALSE(headers.Find("no colon here").has_value());
    EXPECT_EQ(headers.BitrateKbps(), 128);
    using namespace std::string_literals;
    EXPECT_EQ(headers.TagBlock(false),
              "icy-name:Radio X\0ICY-BR: 128\0icy-notice1:<BR>This stream requires "
              "Winamp<BR>\0no colon here\0icy-metaint:16000\0\0"s);

    HttpHeaders icecast;
    icecast.Begin("HTTP/1.0 200 OK");
    icecast.Add("ice-audio-info: ice-samplerate=44100;ice-bitrate=96;ice-channels=2");
    EXPECT_FALSE(icecast.IsIcy());
    EXPECT_EQ(icecast.BitrateKbps(), 96);
    EXPECT_EQ(icecast.TagBlock(true).substr(0, 16), std::string("HTTP/1.0 200 OK\0", 16));

    HttpHeaders odd;
    odd.Begin("HTTP/1.1 404 Not Found");
    odd.Add("icy-br:");
    EXPECT_EQ(odd.StatusCode(), 404);
    EXPECT_EQ(odd.BitrateKbps(), 0);
    EXPECT_EQ(Stream::DownloadBufferSize(5000, 0), 80000u);  // 128 kbps assumed
    EXPECT_EQ(Stream::DownloadBufferSize(5000, 320), 200000u);
    EXPECT_EQ(Stream::DownloadBufferSize(1000, 24), 16384u);  // never under 16 KiB
}

// An ID3v2 tag of the given version around its frames.
std::string Tag(int version, const std::string& frames, int flags = 0, std::size_t padding = 4)
{
    const std::size_t size = frames.size() + padding;
    std::string tag = "ID3";
    tag += static_cast<char>(version);
    tag += '\0';
    tag += static_cast<char>(flags);
    for (int shift = 21; shift >= 0; shift -= 7) tag += static_cast<char>(size >> shift & 0x7F);
    return tag + frames + std::string(padding, '\0');
}

// A frame: 2.2's three-letter ids with three size bytes, 2.3's plain and
// 2.4's sync-safe four.
std::string Frame(int version, const std::string& id, const std::string& data, int format = 0)
{
    std::string frame = id;
    const std::size_t size = data.size();
    if (version == 2) {
        for (int shift = 16; shift >= 0; shift -= 8) frame += static_cast<char>(size >> shift & 0xFF);
        return frame + data;
    }
    for (int i = 3; i >= 0; --i)
        frame += static_cast<char>(version == 4 ? size >> (7 * i) & 0x7F : size >> (8 * i) & 0xFF);
    frame += '\0';
    frame += static_cast<char>(format);
    return frame + data;
}

TEST(Id3, ReadsTheSongInEveryVersionAndEncoding)
{
    using namespace std::string_literals;
    // "Ёж" in UTF-16 both ways, and a character beyond the first plane.
    const std::string hedgehogLe = "\x01\xFF\xFE\x01\x04\x36\x04"s;
    const std::string hedgehogBe = "\x02\x04\x01\x04\x36"s;
    const std::string clef = "\x01\xFE\xFF\xD8\x34\xDD\x1E\x00\x00"s;
    struct Case {
        std::string tag, artist, title;
    } cases[] = {
        {Tag(4, Frame(4, "TPE1", "\x03Группа"s) + Frame(4, "TIT2", "\x03Песня"s)), "Группа", "Песня"},
        {Tag(3, Frame(3, "TIT2", hedgehogLe) + Frame(3, "TPE1", "\x00" "Caf\xE9"s)), "Café", "Ёж"},
        {Tag(4, Frame(4, "TIT2", hedgehogBe)), "", "Ёж"},
        {Tag(3, Frame(3, "TIT2", clef)), "", "\xF0\x9D\x84\x9E"},
        {Tag(2, Frame(2, "TT2", "\x00Old"s) + Frame(2, "TP1", "\x00" "Band"s)), "Band", "Old"},
        // A frame of 200 bytes: 2.4 counts its size in seven-bit bytes.
        {Tag(4, Frame(4, "TXXX", std::string(200, 'x')) + Frame(4, "TIT2", "\x03Long"s)), "", "Long"},
        // The first of several values; other frames passed over.
        {Tag(4, Frame(4, "PRIV", "com.apple.streaming.transportStreamTimestamp\0\0\0\0\0\0\0\0\0"s) +
                    Frame(4, "TIT2", "\x03One\0Two"s)),
         "", "One"},
    };
    for (const Case& c : cases) {
        const Id3Song song = ReadId3(c.tag + "audio after the tag");
        EXPECT_EQ(song.size, c.tag.size());
        EXPECT_EQ(song.artist, c.artist);
        EXPECT_EQ(song.title, c.title);
    }
    EXPECT_EQ(SongMetadata("Группа", "Песня"), "StreamTitle='Группа - Песня';");
    EXPECT_EQ(SongMetadata("", "Песня"), "StreamTitle='Песня';");
    EXPECT_EQ(SongMetadata("Группа", ""), "StreamTitle='Группа';");
    EXPECT_EQ(SongMetadata("", ""), "");
}

TEST(Id3, UndoesUnsynchronisationAndPassesOverExtendedHeadersAndFooters)
{
    using namespace std::string_literals;
    // 2.3 unsynchronises the whole tag: a zero after every 0xFF.
    const std::string frames = Frame(3, "TIT2", "\x00\xFF\xFE"s);
    std::string stuffed;
    for (const char c : frames) {
        stuffed += c;
        if (c == '\xFF') stuffed += '\0';
    }
    EXPECT_EQ(ReadId3(Tag(3, stuffed, 0x80)).title, "\xC3\xBF\xC3\xBE");
    // 2.4 per frame, after a data length indicator.
    const std::string perFrame = Frame(4, "TIT2", "\0\0\0\x03\x00\xFF\x00\xFE"s, 0x03);
    EXPECT_EQ(ReadId3(Tag(4, perFrame)).title, "\xC3\xBF\xC3\xBE");
    // An extended header: 2.3 leaves its own size field out, 2.4 does not.
    const std::string extended3 = "\0\0\0\x06"s + std::string(6, '\0');
    EXPECT_EQ(ReadId3(Tag(3, extended3 + Frame(3, "TIT2", "\x00X"s), 0x40)).title, "X");
    const std::string extended4 = "\0\0\0\x06\x01\0"s;
    EXPECT_EQ(ReadId3(Tag(4, extended4 + Frame(4, "TIT2", "\x00Y"s), 0x40)).title, "Y");
    // A footer is part of the tag.
    const std::string footed = Tag(4, Frame(4, "TIT2", "\x00Z"s), 0x10) + "3DI" + std::string(7, '\0');
    const Id3Song song = ReadId3(footed + "audio");
    EXPECT_EQ(song.size, footed.size());
    EXPECT_EQ(song.title, "Z");
}

TEST(Id3, DamagedOrUnfinishedTagsAreReadSafelyAsFarAsTheyGo)
{
    using namespace std::string_literals;
    const std::string whole = Tag(4, Frame(4, "TIT2", "\x03Song"s));
    // Cut anywhere, a tag is no tag: the rest of it has not come.
    for (std::size_t cut = 0; cut < whole.size(); ++cut) EXPECT_EQ(ReadId3(whole.substr(0, cut)).size, 0u);
    // Not a tag: other data, a size byte with its top bit, an unknown version.
    EXPECT_EQ(ReadId3("\xFF\xFB\x90\x64" + std::string(20, '\0')).size, 0u);
    std::string badSize = whole;
    badSize[7] = '\x80';
    EXPECT_EQ(ReadId3(badSize).size, 0u);
    std::string version5 = whole;
    version5[3] = 5;
    EXPECT_EQ(ReadId3(version5).size, 0u);
    // A frame that claims more than the tag holds ends the reading; what
    // came before it counts.
    const std::string overrun = Frame(4, "TPE1", "\x03" "Band"s) + "TIT2\x00\x00\x7F\x7F\0\0\x03Song"s;
    const Id3Song partial = ReadId3(Tag(4, overrun));
    EXPECT_GT(partial.size, 0u);
    EXPECT_EQ(partial.artist, "Band");
    EXPECT_EQ(partial.title, "");
    // Compressed or encrypted frames, an unknown encoding, an empty frame,
    // an odd UTF-16 byte and a lone surrogate.
    const Id3Song odd = ReadId3(Tag(4, Frame(4, "TPE1", "\x03Hidden"s, 0x08) + Frame(4, "TIT2", "\x07?"s)));
    EXPECT_EQ(odd.artist, "");
    EXPECT_EQ(odd.title, "");
    EXPECT_EQ(ReadId3(Tag(4, Frame(4, "TIT2", ""))).title, "");
    EXPECT_EQ(ReadId3(Tag(4, Frame(4, "TIT2", "\x02\x00\x41\x00"s))).title, "A");
    EXPECT_EQ(ReadId3(Tag(4, Frame(4, "TIT2", "\x02\xD8\x00\x00\x41"s))).title, "\xEF\xBF\xBD" "A");
    // Random bytes after a valid header never read outside the input.
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string noise(static_cast<std::size_t>(random() % 300), '\0');
        for (char& c : noise) c = static_cast<char>(random() % 256);
        const std::string tag = Tag(2 + round % 3, noise, static_cast<int>(random() % 256), 0);
        EXPECT_LE(ReadId3(tag).size, tag.size());
    }
}

TEST(ByteRing, WrapsResizesAndEndsReadsCleanly)
{
    ByteRing ring(8);
    const std::uint8_t data[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(ring.Write(data, 10), 8u);  // only what fits
    std::uint8_t out[16];
    std::size_t got = 0;
    ASSERT_EQ(ring.Read(out, 5, got), ByteRing::ReadResult::Data);
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(ring.Write(data, 4), 4u);  // wraps around the end
    EXPECT_FALSE(ring.Resize(4));        // holds 7
    EXPECT_TRUE(ring.Resize(32));
    ASSERT_EQ(ring.Read(out, 16, got), ByteRing::ReadResult::Data);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + got),
              (std::vector<std::uint8_t>{6, 7, 8, 1, 2, 3, 4}));
    EXPECT_EQ(ring.Written(), 12u);
    EXPECT_EQ(ring.Taken(), 12u);

    // A reader waiting on an empty ring wakes for the end of the download.
    std::atomic<bool> sawItAsleep{false};
    std::thread finisher([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (ring.SleepingReads() == 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawItAsleep = ring.SleepingReads() == 1;
        ring.Finish();
    });
    EXPECT_EQ(ring.Read(out, 1, got), ByteRing::ReadResult::End);
    finisher.join();
    EXPECT_TRUE(sawItAsleep);
    EXPECT_EQ(ring.SleepingReads(), 0);
    ByteRing aborted(4);
    std::thread aborter([&] { aborted.Abort(); });
    EXPECT_EQ(aborted.Read(out, 1, got), ByteRing::ReadResult::Aborted);
    aborter.join();
    EXPECT_EQ(aborted.Write(data, 2), 0u);
}

std::uint32_t Frame(std::int16_t left, std::int16_t right)
{
    return static_cast<std::uint16_t>(left) |
           (std::uint32_t{static_cast<std::uint16_t>(right)} << 16);
}

TEST(Mixer, MixesAppliesTheVolumeAndStopsEndedChannels)
{
    std::atomic<float> volume{0.5f};
    Mixer mixer(volume);
    auto first = std::make_shared<PlaybackChannel>(64);
    auto second = std::make_shared<PlaybackChannel>(64);
    const std::uint32_t loud[4] = {Frame(20000, -20000), Frame(20000, -20000), Frame(100, 0),
                                   Frame(0, 0)};
    first->ring.Write(loud, 4);
    second->ring.Write(loud, 2);
    mixer.Add(first);
    mixer.Add(second);
    std::int16_t out[8];
    mixer.Render(out, 4);
    // 40000 x 0.5 = 20000; the second channel ran dry: silence, not noise.
    EXPECT_EQ(std::vector<std::int16_t>(out, out + 8),
              (std::vector<std::int16_t>{20000, -20000, 20000, -20000, 50, 0, 0, 0}));
    std::uint32_t heard[4];
    second->history.Latest(heard, 4);
    EXPECT_EQ(heard[1], Frame(20000, -20000));  // before the volume
    EXPECT_EQ(heard[2], 0u);
    EXPECT_EQ(second->underruns.load(), 1u);

    volume = 1.0f;
    first->ring.Write(loud, 2);
    second->ring.Write(loud, 2);
    mixer.Render(out, 2);
    EXPECT_EQ(out[0], 32767);  // 40000 clipped, never wrapped
    EXPECT_EQ(out[1], -32768);

    second->sourceEnded = true;
    mixer.Render(out, 2);
    EXPECT_TRUE(second->stopped.load());
    EXPECT_FALSE(first->stopped.load());  // dry but not ended: still playing

    // One channel left at full volume: its frames come out as they are,
    // left before right, with silence where it runs dry.
    const std::uint32_t alone[3] = {Frame(-32768, 32767), Frame(1, -2), Frame(300, 400)};
    first->ring.Write(alone, 3);
    const std::uint64_t underrunsBefore = first->underruns.load();
    mixer.Render(out, 4);
    EXPECT_EQ(std::vector<std::int16_t>(out, out + 8),
              (std::vector<std::int16_t>{-32768, 32767, 1, -2, 300, 400, 0, 0}));
    std::uint32_t kept[4];
    first->history.Latest(kept, 4);
    EXPECT_EQ(kept[1], Frame(1, -2));
    EXPECT_EQ(first->underruns.load(), underrunsBefore + 1);
    first->sourceEnded = true;
    mixer.Render(out, 1);
    EXPECT_TRUE(first->stopped.load());
    EXPECT_EQ(mixer.Ready(5), 5u);  // nothing left playing
}

TEST(Mixer, ReadyCountsWhatEveryFedChannelCanGiveNow)
{
    std::atomic<float> volume{1.0f};
    Mixer mixer(volume);
    EXPECT_EQ(mixer.Ready(100), 100u);  // nothing playing: the clock alone
    auto fed = std::make_shared<PlaybackChannel>(64);
    auto ending = std::make_shared<PlaybackChannel>(64);
    const std::uint32_t frames[8] = {};
    fed->ring.Write(frames, 8);
    ending->ring.Write(frames, 3);
    mixer.Add(fed);
    mixer.Add(ending);
    EXPECT_EQ(mixer.Ready(100), 3u);
    EXPECT_EQ(mixer.Ready(2), 2u);
    // A channel whose source has ended plays out and stops; it holds up nobody.
    ending->sourceEnded = true;
    EXPECT_EQ(mixer.Ready(100), 8u);
}

// The decoder sleeps until the output has made room; a little room does not
// wake it, enough does, and a freed stream's decoder never sleeps again.
TEST(FrameRing, AWriterWaitsForTheRoomItAskedForOrTheStop)
{
    FrameRing ring(8);
    const std::uint32_t frames[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint32_t out[8];
    std::atomic<bool> woken{false};
    // A writer waiting for that much room, on a thread of its own.
    const auto waiter = [&](std::size_t room) {
        woken = false;
        return std::thread([&ring, &woken, room] {
            ring.WaitForRoom(room);
            woken = true;
        });
    };
    // Whether the writer is asleep waiting for that much room within 5 s; one
    // that is not is stopped, so that a failed check leaves no thread behind.
    const auto sleeps = [&](std::thread& writer, std::size_t room) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (ring.WantedRoom() != room && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (ring.WantedRoom() == room) return true;
        ring.StopWaiting();
        writer.join();
        return false;
    };
    // Whether the waiting writer wakes within 5 s; a writer that would sleep
    // on is stopped, so that a fault fails the test instead of hanging it.
    const auto wakes = [&](std::thread& writer) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!woken && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const bool result = woken;
        if (!result) ring.StopWaiting();
        writer.join();
        return result;
    };

    ASSERT_EQ(ring.Write(frames, 8), 8u);
    std::thread writer = waiter(4);
    ASSERT_TRUE(sleeps(writer, 4));
    std::uint32_t wakeUps = ring.WakeUps();
    EXPECT_EQ(ring.Read(out, 3), 3u);
    // Three free of the four asked for: the reader leaves it asleep.
    EXPECT_EQ(ring.WakeUps(), wakeUps);
    EXPECT_FALSE(woken);
    EXPECT_EQ(ring.Read(out, 1), 1u);
    EXPECT_TRUE(wakes(writer));
    EXPECT_EQ(ring.WakeUps(), wakeUps + 1);  // once

    // Asking for more than the ring holds waits for it to be empty.
    ASSERT_EQ(ring.Write(frames, 4), 4u);
    std::thread greedy = waiter(100);
    ASSERT_TRUE(sleeps(greedy, 8));
    wakeUps = ring.WakeUps();
    EXPECT_EQ(ring.Read(out, 7), 7u);
    EXPECT_EQ(ring.WakeUps(), wakeUps);
    EXPECT_EQ(ring.Read(out, 1), 1u);
    EXPECT_TRUE(wakes(greedy));

    ASSERT_EQ(ring.Write(frames, 8), 8u);
    std::thread stopped = waiter(4);
    ASSERT_TRUE(sleeps(stopped, 4));
    EXPECT_FALSE(woken);
    ring.StopWaiting();
    EXPECT_TRUE(wakes(stopped));
    ring.WaitForRoom(4);  // returns at once from now on
}

// What the sync thread did, for the dispatcher's test.
struct SyncLog {
    std::mutex lock;
    std::condition_variable changed;
    bool gateOpen = false;
    bool firstRunning = false;
    std::vector<std::pair<HSYNC, DWORD>> calls;

    static void Proc(HSYNC sync, DWORD, DWORD data, void* user)
    {
        auto* self = static_cast<SyncLog*>(user);
        std::unique_lock guard(self->lock);
        self->calls.emplace_back(sync, data);
        self->firstRunning = true;
        self->changed.notify_all();
        self->changed.wait(guard, [&] { return self->gateOpen; });
    }
    bool WaitFor(const std::function<bool()>& done)
    {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(5), done);
    }
};

TEST(SyncDispatcher, AStateWaitsOnceHoweverOftenItChangesAndEventsKeepTheirOrder)
{
    SetSyncLiveness({});
    SyncLog log;
    constexpr DWORD kChannel = 0x7001;
    constexpr HSYNC kTitle = 0x11, kOther = 0x12, kMarker = 0x13;
    // The first title runs and blocks the sync thread.
    PostSync({kTitle, kChannel, 0, &SyncLog::Proc, &log}, true);
    ASSERT_TRUE(log.WaitFor([&] { return log.firstRunning; }));
    // Meanwhile a flood of titles, an event that is no state, and titles of
    // another sync: each state sync waits once, the event as often as posted.
    for (int i = 0; i < 10000; ++i) PostSync({kTitle, kChannel, 0, &SyncLog::Proc, &log}, true);
    PostSync({kOther, kChannel, 1, &SyncLog::Proc, &log}, false);
    PostSync({kOther, kChannel, 2, &SyncLog::Proc, &log}, false);
    for (int i = 0; i < 100; ++i) PostSync({kMarker, kChannel + 1, 0, &SyncLog::Proc, &log}, true);
    {
        std::lock_guard guard(log.lock);
        log.gateOpen = true;
    }
    log.changed.notify_all();
    ASSERT_TRUE(log.WaitFor([&] { return log.calls.size() >= 5; }));
    const std::vector<std::pair<HSYNC, DWORD>> expected = {
        {kTitle, 0}, {kTitle, 0}, {kOther, 1}, {kOther, 2}, {kMarker, 0}};
    // The marker came last of everything posted: nothing else is waiting.
    std::lock_guard guard(log.lock);
    EXPECT_EQ(log.calls, expected);
}

TEST(Spectrum, AFullScaleSineAtABinsCentreReadsOne)
{
    std::uint32_t frames[256];
    for (const int bin : {6, 40, 100}) {
        for (int k = 0; k < 256; ++k) {
            const auto sample =
                static_cast<std::int16_t>(std::lround(32767 * std::sin(2 * M_PI * bin * k / 256)));
            frames[k] = Frame(sample, sample);
        }
        float magnitudes[128];
        Spectrum256(frames, magnitudes);
        EXPECT_NEAR(magnitudes[bin], 1.0f, 0.01f) << bin;
        EXPECT_NEAR(magnitudes[bin + 1], 0.5f, 0.01f);  // the Hann window's neighbour
        EXPECT_LT(magnitudes[bin + 3], 0.001f);
    }
    std::fill(std::begin(frames), std::end(frames), 0u);
    float silence[128];
    Spectrum256(frames, silence);
    for (const float m : silence)
        EXPECT_EQ(m, 0.0f);
}

}  // namespace
}  // namespace sonivex
