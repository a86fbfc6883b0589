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

std::vector<std::int16_t> Samples(const std::string& path, std::size_t fromByte)
{
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples;
    for (std::size_t i = fromByte & ~std::size_t{3}; i + 1 < bytes.size(); i += 2)
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

    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_GT(Loudest(Samples(path, 0)), 29000);

    ASSERT_TRUE(BASS_SetVolume(0.0f));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // what was queued plays out
    const std::size_t silentFrom = FileSize(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::vector<std::int16_t> silent = Samples(path, silentFrom);
    EXPECT_GT(silent.size(), 20000u);  // half a second was written
    EXPECT_EQ(Loudest(silent), 0);
    // The sound data is taken before the master volume: pictures still move.
    std::int16_t data[512];
    ASSERT_EQ(BASS_ChannelGetData(stream, data, sizeof data), sizeof data);
    EXPECT_GT(Loudest(std::vector<std::int16_t>(std::begin(data), std::end(data))), 29000);

    ASSERT_TRUE(BASS_SetVolume(0.5f));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::size_t halfFrom = FileSize(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int half = Loudest(Samples(path, halfFrom));
    EXPECT_GT(half, 14500);
    EXPECT_LT(half, 16800);
    BASS_SetVolume(1.0f);
    BASS_Free();
}

}  // namespace
}  // namespace sonivex_test
