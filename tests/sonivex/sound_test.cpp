// The sound that comes out: each codec a station may send, decoded to the
// output's rate and layout; the data and spectrum queries; titles from Ogg
// comment headers; the master volume at the device.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "fake_server.h"
#include "library_test.h"
#include "test_sounds.h"

namespace sonivex_test {
namespace {

using kit::Script;

struct Sound : LibraryTest {
    kit::FakeServer server;

    // Opens a stream of the bytes with that content type and plays it.
    HSTREAM Play(const std::string& path, const std::string& contentType, const std::string& bytes)
    {
        server.Route(
            path,
            Script().Send(Script::HttpHead(200, "OK", {"Content-Type: " + contentType}) + bytes));
        const HSTREAM stream = Open(server.Url(path));
        if (stream != 0) BASS_ChannelPlay(stream, 0);
        return stream;
    }
};

// The loudest sample the output has played, watched until it passes level
// (encoders fade in over their first frames) or 5 s have passed.
int PeakPast(HSTREAM stream, int level)
{
    const auto heard = [&] {
        std::int16_t samples[1024];
        if (BASS_ChannelGetData(stream, samples, sizeof samples) != sizeof samples) return 0;
        int peak = 0;
        for (const std::int16_t s : samples)
            peak = std::max(peak, std::abs(int{s}));
        return peak;
    };
    int peak = 0;
    WaitUntil(
        [&] {
            peak = std::max(peak, heard());
            return peak > level;
        },
        std::chrono::seconds(5));
    return peak;
}

TEST_F(Sound, EveryStationCodecPlaysAtFullScale)
{
    struct Case {
        const char* codec;
        const char* type;
        int rate;
        int channels;
    };
    const Case cases[] = {
        {"mp3", "audio/mpeg", 44100, 2},         {"mp3", "audio/mpeg", 22050, 1},
        {"aac", "audio/aac", 44100, 2},          {"aac", "application/octet-stream", 32000, 1},
        {"vorbis", "application/ogg", 44100, 2}, {"opus", "audio/ogg", 48000, 2},
        {"flac", "audio/flac", 48000, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + std::to_string(c.rate) + " Hz, " +
                     std::to_string(c.channels) + " channels");
        const HSTREAM stream = Play("/" + std::string(c.codec), c.type,
                                    kit::EncodeTone(c.codec, 3, 1000, c.rate, c.channels));
        ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
        // Lossy codecs lose a little; mono comes out on both sides at full level.
        EXPECT_GT(PeakPast(stream, 29000), 29000);
        std::int16_t frames[2 * 256];
        ASSERT_EQ(BASS_ChannelGetData(stream, frames, sizeof frames), sizeof frames);
        for (int i = 0; i < 256; i += 17)
            EXPECT_NEAR(frames[2 * i], frames[2 * i + 1], 1500);
        BASS_StreamFree(stream);
    }
}

TEST_F(Sound, TheSpectrumOfAOneKilohertzToneLiftsBinSix)
{
    const HSTREAM stream = Play("/tone", "audio/mpeg", kit::EncodeTone("mp3", 4, 1000));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_GT(PeakPast(stream, 30000), 30000);
    // A tenth of a second more of it: the 256 frames of the spectrum are all
    // of the tone at its full level.
    const std::uint64_t loud = FramesPlayed(stream);
    ASSERT_TRUE(WaitUntil([&] { return FramesPlayed(stream) >= loud + 44100 / 10; },
                          std::chrono::seconds(2)));
    float bins[128];
    ASSERT_EQ(BASS_ChannelGetData(stream, bins, BASS_DATA_FFT256), 512u);
    const int loudest = static_cast<int>(std::max_element(bins, bins + 128) - bins);
    EXPECT_EQ(loudest, 6);  // 1000 Hz lies near bin 6's centre, 1033.6 Hz
    EXPECT_GT(bins[6], 0.8f);
    EXPECT_LT(bins[6], 1.1f);
    EXPECT_LT(bins[30], 0.01f);
    // The data is what is heard now: asked again once the output has played
    // a tenth of a second more, it has moved on.
    std::int16_t before[64], after[64];
    const std::uint64_t played = FramesPlayed(stream);
    BASS_ChannelGetData(stream, before, sizeof before);
    ASSERT_TRUE(WaitUntil([&] { return FramesPlayed(stream) >= played + 44100 / 10; },
                          std::chrono::seconds(2)));
    BASS_ChannelGetData(stream, after, sizeof after);
    EXPECT_FALSE(std::equal(std::begin(before), std::end(before), std::begin(after)));
    BASS_StreamFree(stream);
}

TEST_F(Sound, ASilentStreamGivesASilentSpectrum)
{
    const HSTREAM stream = Play("/quiet", "audio/mpeg",
                                kit::EncodeSource("mp3", "anullsrc=r=44100:cl=stereo:d=3", 2, 128));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    // A tenth of a second of it has been played: the spectrum is of its
    // sound, not of the silence from before it started.
    ASSERT_TRUE(WaitUntil([&] { return FramesPlayed(stream) >= 44100 / 10; }, std::chrono::seconds(3)));
    float bins[128];
    ASSERT_EQ(BASS_ChannelGetData(stream, bins, BASS_DATA_FFT256), 512u);
    for (const float bin : bins)
        EXPECT_LT(bin, 0.001f);
    BASS_StreamFree(stream);
}

// Without a sound device the library's clock takes the sound in coarse steps
// while nobody looks at it; a program that draws it must still see it move
// fifty times a second, also when it starts looking after a pause.
TEST_F(Sound, TheSoundDataMovesSmoothlyOnceSomeoneLooks)
{
    const HSTREAM stream = Play("/noise", "audio/mpeg",
                                kit::EncodeSource("mp3", "anoisesrc=r=44100:a=0.5:d=8", 2, 128));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    // Nobody looks: past the stream's first second the output takes its
    // coarse steps, a fifth of a second of sound or more at once.
    auto lastTime = std::chrono::steady_clock::now();
    std::uint64_t lastFrames = FramesPlayed(stream);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto time = std::chrono::steady_clock::now();
            const std::uint64_t frames = FramesPlayed(stream);
            const bool coarse =
                frames - lastFrames >= 44100 / 5 && time - lastTime < std::chrono::milliseconds(100);
            lastTime = time;
            lastFrames = frames;
            return coarse;
        },
        std::chrono::seconds(5)));

    std::uint32_t last[256] = {};
    int moves = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < until) {
        std::uint32_t now[256];
        ASSERT_EQ(BASS_ChannelGetData(stream, now, sizeof now), sizeof now);
        if (!std::equal(std::begin(now), std::end(now), std::begin(last))) ++moves;
        std::copy(std::begin(now), std::end(now), std::begin(last));
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    // About 50 steps; coarse steps would give 10.
    EXPECT_GE(moves, 25);
    BASS_StreamFree(stream);
}

// The coarse steps of an output nobody watches must not outrun a small
// playback buffer: a stream with the smallest buffer still plays in its own
// time (with steps longer than half its buffer it fell behind and took half a
// second longer, with gaps of silence).
TEST_F(Sound, AnUnwatchedStreamWithTheSmallestBufferKeepsPace)
{
    ASSERT_TRUE(BASS_SetConfig(BASS_CONFIG_BUFFER, 10));
    const HSTREAM stream =
        Play("/six", "audio/mpeg", kit::EncodeSource("mp3", "sine=f=440:r=44100:d=6", 2, 128));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    const auto start = std::chrono::steady_clock::now();
    // A null buffer asks only whether it still plays: it is no look at the data.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return BASS_ChannelGetData(stream, nullptr, 0) == static_cast<DWORD>(-1) &&
                   BASS_ErrorGetCode() == BASS_ERROR_NOPLAY;
        },
        std::chrono::seconds(10)));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(seconds, 5.8);  // paced by the clock
    EXPECT_LT(seconds, 6.3);
    BASS_StreamFree(stream);
}

TEST_F(Sound, OggCommentsGiveTheTitleAndEachNewLinkASync)
{
    const std::string first = kit::EncodeWithTags("vorbis", 2, 1000, "Artist One", "Song One");
    const std::string second = kit::EncodeWithTags("vorbis", 2, 500, "Artist Two", "Song Two");
    const std::string third = kit::EncodeWithTags("opus", 2, 700, "Artist Three", "Song Three");
    const HSTREAM stream = Play("/chain", "application/ogg", kit::ChainOgg({first, second, third}));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    EXPECT_STREQ(BASS_ChannelGetTags(stream, BASS_TAG_META),
                 "StreamTitle='Artist One - Song One';");
    struct Titles {
        std::mutex lock;
        std::vector<std::string> seen;
    } titles;
    BASS_ChannelSetSync(
        stream, BASS_SYNC_META, 0,
        [](HSYNC, DWORD channel, DWORD, void* user) {
            auto* t = static_cast<Titles*>(user);
            std::lock_guard guard(t->lock);
            t->seen.emplace_back(BASS_ChannelGetTags(channel, BASS_TAG_META));
        },
        &titles);
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard guard(titles.lock);
            return titles.seen.size() >= 2;
        },
        std::chrono::seconds(8)));
    std::lock_guard guard(titles.lock);
    EXPECT_EQ(titles.seen, (std::vector<std::string>{"StreamTitle='Artist Two - Song Two';",
                                                     "StreamTitle='Artist Three - Song Three';"}));
    BASS_StreamFree(stream);
}

TEST_F(Sound, AStreamThatEndsStopsButKeepsItsHandle)
{
    const HSTREAM stream = Play("/short", "audio/mpeg", kit::EncodeTone("mp3", 0.5, 1000));
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    std::int16_t samples[64];
    ASSERT_TRUE(WaitUntil(
        [&] {
            return BASS_ChannelGetData(stream, samples, sizeof samples) == static_cast<DWORD>(-1);
        },
        std::chrono::seconds(3)));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOPLAY);
    EXPECT_FALSE(BASS_ChannelPlay(stream, 0));  // a live stream that ended cannot start again
    EXPECT_STRNE(TagLines(BASS_ChannelGetTags(stream, BASS_TAG_HTTP)).at(0).c_str(), "");
    EXPECT_TRUE(BASS_StreamFree(stream));
}

}  // namespace
}  // namespace sonivex_test
