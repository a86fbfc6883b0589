// Against a real Icecast 2 fed by ffmpeg: a station as listeners meet it.
#include "icecast_server.h"
#include "library_test.h"

namespace sonivex_test {
namespace {

struct Icecast : LibraryTest {
    void SetUp() override
    {
        if (!kit::IcecastServer::Available()) GTEST_SKIP() << "icecast2 or ffmpeg missing";
        LibraryTest::SetUp();
    }
};

TEST_F(Icecast, AnMp3StationPlaysWithItsNameAndTitles)
{
    kit::IcecastServer icecast;
    kit::SourceInfo info;
    info.name = "Ondalux Jazz";
    icecast.StartSource("/jazz.mp3", "mp3", 1000, 128, info);
    // A station on the air for a while: Icecast's burst for new listeners
    // (up to 64 KiB, 4 s at 128 kbps) holds three quarters of the buffer
    // below, of 2 s, so that each title is heard 2 s after it is sent.
    ASSERT_TRUE(WaitUntil([&] { return icecast.BurstBytes("/jazz.mp3") >= 32000 * 3 / 4; },
                          std::chrono::seconds(15)));

    DownloadRecord& record = NewRecord();
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 2000);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 75);
    const auto start = std::chrono::steady_clock::now();
    const HSTREAM stream = Open(icecast.MountUrl("/jazz.mp3"), &record);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    // The burst fills three quarters of the buffer at once.
    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_EQ(record.Statuses().at(0), "HTTP/1.0 200 OK");
    const std::vector<std::string> lines = TagLines(BASS_ChannelGetTags(stream, BASS_TAG_HTTP));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "icy-name:Ondalux Jazz"), lines.end());
    // ffmpeg announces no bit rate: the buffer's size comes from the decoder,
    // 2 s at 128 kbps.
    EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END), 32000u);

    TitleRecord titles;
    BASS_ChannelSetSync(stream, BASS_SYNC_META, 0, &TitleRecord::Proc, &titles);
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    icecast.SetTitle("/jazz.mp3", "Miles Davis - So What");
    EXPECT_TRUE(WaitUntil([&] { return titles.Saw("StreamTitle='Miles Davis - So What';"); },
                          std::chrono::seconds(10)));
    icecast.SetTitle("/jazz.mp3", "Guns N' Roses - Don't Cry");
    EXPECT_TRUE(WaitUntil([&] { return titles.Saw("StreamTitle='Guns N' Roses - Don't Cry';"); },
                          std::chrono::seconds(10)));

    std::int16_t samples[1024];
    ASSERT_EQ(BASS_ChannelGetData(stream, samples, sizeof samples), sizeof samples);
    int loudest = 0;
    for (const std::int16_t s : samples)
        loudest = std::max(loudest, std::abs(int{s}));
    EXPECT_GT(loudest, 29000);
    BASS_StreamFree(stream);
}

TEST_F(Icecast, AnOggStationAndAStationThatGoesOffTheAir)
{
    kit::IcecastServer icecast;
    icecast.StartSource("/live.ogg", "vorbis", 440, 96);
    DownloadRecord& record = NewRecord();
    const HSTREAM stream = Open(icecast.MountUrl("/live.ogg"), &record);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
    // A tenth of a second of the station has been played: the spectrum is
    // of its sound, not of the silence from before it started.
    ASSERT_TRUE(WaitUntil([&] { return FramesPlayed(stream) >= 44100 / 10; }, std::chrono::seconds(5)));
    float bins[128];
    ASSERT_EQ(BASS_ChannelGetData(stream, bins, BASS_DATA_FFT256), 512u);
    EXPECT_EQ(std::max_element(bins, bins + 128) - bins, 3);  // 440 Hz: bin 2.55, nearest 3

    icecast.StopSource("/live.ogg");
    EXPECT_TRUE(
        WaitUntil([&] { return BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED) == 0; },
                  std::chrono::seconds(5)));
    EXPECT_TRUE(WaitUntil([&] { return record.Ends() == 1; }, std::chrono::seconds(1)));
    BASS_StreamFree(stream);
}

}  // namespace
}  // namespace sonivex_test
