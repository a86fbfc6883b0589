// The master volume at the device: SDL's disk driver writes what the output
// plays to a file, which the test reads back.
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "fake_server.h"
#include "library_test.h"
#include "test_sounds.h"

namespace sonivex_test {
namespace {

// The samples the device wrote from the frame at or before fromByte on.
std::vector<std::int16_t> Samples(const std::string& path, std::size_t fromByte)
{
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(fromByte & ~std::size_t{3}));
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        samples.push_back(
            static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return samples;
}

std::size_t FileSize(const std::string& path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    return file ? static_cast<std::size_t>(file.tellg()) : 0;
}

int Loudest(const std::vector<std::int16_t>& samples)
{
    int loudest = 0;
    for (const std::int16_t s : samples)
        loudest = std::max(loudest, std::abs(int{s}));
    return loudest;
}

// The loudest sample of the device's latest block (1024 frames); -1 before
// it has written one.
int LoudestOfTheLatestBlock(const std::string& path)
{
    constexpr std::size_t kBlockBytes = 1024 * 4;
    const std::size_t size = FileSize(path);
    if (size < kBlockBytes) return -1;
    return Loudest(Samples(path, size - kBlockBytes));
}

TEST(DiskOutput, TheMasterVolumeScalesWhatTheDevicePlays)
{
    const char* path = std::getenv("SDL_DISKAUDIOFILE");
    ASSERT_NE(path, nullptr);
    std::remove(path);
    kit::FakeServer server;
    server.Route("/tone",
                 kit::Script().Send(kit::Script::HttpHead(200, "OK", {"Content-Type: audio/mpeg"}) +
                                    kit::EncodeTone("mp3", 6, 1000)));
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    const HSTREAM stream =
        BASS_StreamCreateURL(server.Url("/tone").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));

    int loudest = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            loudest = Loudest(Samples(path, 0));
            return loudest > 29000;
        },
        std::chrono::seconds(5)))
        << loudest;

    ASSERT_TRUE(BASS_SetVolume(0.0f));
    // What was queued plays out: the device's latest block is silent, and
    // whatever it writes from then on was made after the change.
    ASSERT_TRUE(WaitUntil([&] { return LoudestOfTheLatestBlock(path) == 0; }, std::chrono::seconds(5)));
    const std::size_t silentFrom = FileSize(path);
    ASSERT_TRUE(WaitUntil([&] { return FileSize(path) >= silentFrom + 44100 * 4 / 2; },
                          std::chrono::seconds(5)));
    const std::vector<std::int16_t> silent = Samples(path, silentFrom);
    EXPECT_GT(silent.size(), 20000u);  // half a second was written
    EXPECT_EQ(Loudest(silent), 0);
    // The sound data is taken before the master volume: pictures still move.
    std::int16_t data[512];
    ASSERT_EQ(BASS_ChannelGetData(stream, data, sizeof data), sizeof data);
    EXPECT_GT(Loudest(std::vector<std::int16_t>(std::begin(data), std::end(data))), 29000);

    ASSERT_TRUE(BASS_SetVolume(0.5f));
    // The sound is back in the device's latest block; 0.3 s more of it.
    ASSERT_TRUE(WaitUntil([&] { return LoudestOfTheLatestBlock(path) > 0; }, std::chrono::seconds(5)));
    const std::size_t halfFrom = FileSize(path);
    ASSERT_TRUE(WaitUntil([&] { return FileSize(path) >= halfFrom + 44100 * 4 * 3 / 10; },
                          std::chrono::seconds(5)));
    const int half = Loudest(Samples(path, halfFrom));
    EXPECT_GT(half, 14500);
    EXPECT_LT(half, 16800);
    BASS_SetVolume(1.0f);
    BASS_Free();
}

// Zero crossings of the first channel in each 10 ms of interleaved stereo
// samples: about 10 for a 500 Hz tone, 20 for 1000 Hz, 40 for 2000 Hz; 0 for
// a window that is not loud (silence, the quiet start of a tone).
std::vector<int> CrossingsPer10Ms(const std::vector<std::int16_t>& samples)
{
    std::vector<int> windows;
    for (std::size_t start = 0; start + 2 * 441 <= samples.size(); start += 2 * 441) {
        int crossings = 0;
        int loudest = 0;
        for (std::size_t i = start + 2; i < start + 2 * 441; i += 2) {
            if ((samples[i - 2] < 0) != (samples[i] < 0)) ++crossings;
            loudest = std::max(loudest, std::abs(int{samples[i]}));
        }
        windows.push_back(loudest > 10000 ? crossings : 0);
    }
    return windows;
}

std::vector<std::string> TitleBlocks(std::size_t audioBytes, std::size_t metaint, std::size_t changeAt)
{
    // The first block names the first tone, the first at or after changeAt
    // the second; the others carry nothing.
    std::vector<std::string> blocks;
    bool changed = false;
    for (std::size_t at = metaint; at <= audioBytes; at += metaint) {
        if (at == metaint) {
            blocks.push_back("StreamTitle='Low';");
        } else if (!changed && at >= changeAt) {
            blocks.push_back("StreamTitle='High';");
            changed = true;
        } else {
            blocks.push_back("");
        }
    }
    return blocks;
}

struct FileAtSync {
    const char* path;
    std::atomic<std::size_t> bytes{0};
    static void Proc(HSYNC, DWORD, DWORD, void* user)
    {
        auto* self = static_cast<FileAtSync*>(user);
        self->bytes = FileSize(self->path);
    }
};

TEST(DiskOutput, ATitleChangesWhenItsSoundIsHeardNotWhenItArrives)
{
    const char* path = std::getenv("SDL_DISKAUDIOFILE");
    ASSERT_NE(path, nullptr);
    std::remove(path);
    const std::string low = kit::EncodeTone("mp3", 2, 500);
    const std::string high = kit::EncodeTone("mp3", 6, 2000);
    const std::string audio = low + high;
    constexpr std::size_t kMetaint = 500;
    const std::string body = kit::IcyInterleave(audio.substr(0, audio.size() / kMetaint * kMetaint),
                                                kMetaint, TitleBlocks(audio.size(), kMetaint, low.size()));
    kit::FakeServer server;
    server.Route("/titles", kit::Script()
                                .Send(kit::Script::IcyHead({"content-type:audio/mpeg",
                                                            "icy-metaint:" + std::to_string(kMetaint)}) +
                                      body)
                                .Hang());
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    // Seconds of sound decoded ahead of the output, all of it sent at once.
    BASS_SetConfig(BASS_CONFIG_BUFFER, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 10000);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    const HSTREAM stream = BASS_StreamCreateURL(server.Url("/titles").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    // The first title counts as soon as it arrives; the first sound may
    // decode from the bytes before its block, so the open can come first.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const char* meta = BASS_ChannelGetTags(stream, BASS_TAG_META);
            return meta != nullptr && std::string(meta) == "StreamTitle='Low';";
        },
        std::chrono::seconds(5)));
    FileAtSync atSync;
    atSync.path = path;
    ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_META, 0, &FileAtSync::Proc, &atSync), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    ASSERT_TRUE(WaitUntil([&] { return atSync.bytes > 0; }, std::chrono::seconds(10)));
    EXPECT_STREQ(BASS_ChannelGetTags(stream, BASS_TAG_META), "StreamTitle='High';");
    // Let the change itself reach the file.
    const std::size_t syncFrame = atSync.bytes / 4;
    ASSERT_TRUE(WaitUntil([&] { return FileSize(path) / 4 > syncFrame + 44100; },
                          std::chrono::seconds(5)));
    BASS_Free();

    const std::vector<int> windows = CrossingsPer10Ms(Samples(path, 0));
    std::size_t change = 0;
    for (std::size_t w = 0; w + 1 < windows.size() && change == 0; ++w)
        if (windows[w] > 30 && windows[w + 1] > 30) change = w;
    ASSERT_GT(change, 0u);
    const double lag = (static_cast<double>(syncFrame) - static_cast<double>(change * 441)) / 44100.0;
    std::printf("[ disk     ] the title changed %.3f s after its sound was played\n", lag);
    EXPECT_LT(std::abs(lag), 0.3);
}

TEST(DiskOutput, AReconnectedStreamResumesWithoutAClickOrOldSound)
{
    const char* path = std::getenv("SDL_DISKAUDIOFILE");
    ASSERT_NE(path, nullptr);
    std::remove(path);
    const std::string head = kit::Script::IcyHead({"content-type:audio/mpeg"});
    kit::FakeServer server;
    // 1000 Hz until the server drops the listener, then 700 Hz.
    server.RouteSequence("/live",
                         {kit::Script().Send(head).SendSlowly(kit::EncodeTone("mp3", 3, 1000), 4000, 240),
                          kit::Script().Send(head).Repeat(kit::EncodeTone("mp3", 4, 700), 0)});
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    BASS_SetConfig(BASS_CONFIG_BUFFER, 500);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 1000);
    const HSTREAM stream = BASS_StreamCreateURL(server.Url("/live").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    // Dropped mid-stream: the first connection's data just stops coming.
    ASSERT_TRUE(WaitUntil([&] { return server.Requests().size() >= 2; }, std::chrono::seconds(30)));
    ASSERT_TRUE(WaitUntil([&] { return BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED) == 1; },
                          std::chrono::seconds(5)));
    const std::size_t backAt = FileSize(path);
    ASSERT_TRUE(WaitUntil([&] { return FileSize(path) > backAt + 4 * 44100 * 2; }, std::chrono::seconds(10)));
    BASS_Free();

    const std::vector<std::int16_t> samples = Samples(path, 0);
    const std::vector<int> windows = CrossingsPer10Ms(samples);
    // Low tone (about 14 crossings), then a gap, then never the old tone again.
    std::size_t firstNew = 0;
    for (std::size_t w = 0; w < windows.size() && firstNew == 0; ++w)
        if (windows[w] >= 12 && windows[w] <= 16 && w + 1 < windows.size() && windows[w + 1] >= 12 &&
            windows[w + 1] <= 16)
            firstNew = w;
    ASSERT_GT(firstNew, 0u);
    for (std::size_t w = firstNew + 2; w < windows.size(); ++w) EXPECT_LT(windows[w], 18) << "window " << w;
    std::size_t silent = 0;
    for (std::size_t w = 0; w < firstNew; ++w)
        if (windows[w] == 0) ++silent;
    std::printf("[ disk     ] new sound from %.2f s, %.2f s of silence before it\n", firstNew / 100.0,
                silent / 100.0);
    // No click: no step between two samples bigger than the tones make.
    int largestStep = 0;
    for (std::size_t i = 2; i < samples.size(); ++i)
        largestStep = std::max(largestStep, std::abs(samples[i] - samples[i - 2]));
    EXPECT_LT(largestStep, 8000);
}

}  // namespace
}  // namespace sonivex_test
