// reconnect_bench: what a listener meets when a station's server drops the
// connection, and how late a title changes, side by side with mpv.
//
//   reconnect_bench [--mpv PATH] [--rounds N]
//
// Gap: a local live stream, sent at its own pace, is closed by its server
// mid-stream and served again at once. For libsonivex (in this process, on
// the clock-paced null output) and for mpv (with its reconnect options at
// their quickest) the server's side gives the time from its close to the
// player's new request, and the time until the player plays the new
// connection's sound: for libsonivex its BASS_SYNC_RECONNECT 0, for mpv the
// new tone at the end of the WAV file its pcm output writes as the stream
// comes in.
// Title lag: a stream whose title changes where its tone does, with a 10 s
// playback buffer filled ahead, played into SDL's disk driver: how long
// after the tone change reached the output the META sync came.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "fake_server.h"
#include "sonivex.h"
#include "test_sounds.h"

extern char** environ;

namespace {

using kit::Script;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename Done>
bool WaitFor(Done done, double seconds)
{
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A live stream: 8 s of one tone at its own pace, closed, then served
// again for good with another tone, so that the new connection's sound can
// be told from the old.
void RouteDroppingStream(kit::FakeServer& server, const std::string& before, const std::string& after)
{
    const std::string head = Script::IcyHead({"content-type:audio/mpeg", "icy-br:128"});
    const std::size_t eight = 8 * 16000;
    server.RouteSequence("/live", {Script().Send(head).SendSlowly(before.substr(0, eight), 4000, 250).Close(),
                                   Script().Send(head).SendSlowly(after, 4000, 250).Hang()});
}

// Zero crossings of the first channel in the last 10 ms of a growing WAV
// file of 16-bit stereo: about 20 for 1000 Hz, 14 for 700 Hz.
int LatestCrossings(const std::string& path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return -1;
    const std::streamoff size = file.tellg();
    constexpr std::streamoff kBytes = 441 * 4;
    if (size < 44 + kBytes) return -1;
    file.seekg((size - kBytes) / 4 * 4);
    std::vector<char> bytes(kBytes);
    file.read(bytes.data(), kBytes);
    int crossings = 0, loudest = 0;
    std::int16_t previous = 0;
    for (std::streamoff i = 0; i + 1 < kBytes; i += 4) {
        const auto sample = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (i > 0 && (previous < 0) != (sample < 0)) ++crossings;
        loudest = std::max(loudest, std::abs(int{sample}));
        previous = sample;
    }
    return loudest > 10000 ? crossings : 0;
}

struct Gap {
    double toRequest = -1;  // close to the new request
    double toSound = -2;    // close to the new connection's sound at the output
};

// Waits for the server's close of the first connection, then for the
// second request.
Gap WatchServer(const kit::FakeServer& server, std::atomic<double>* soundBack, Clock::time_point start)
{
    Gap gap;
    if (!WaitFor([&] { return server.ConnectionCount() >= 1; }, 20)) return gap;
    if (!WaitFor([&] { return server.OpenConnectionCount() == 0 || server.Requests().size() >= 2; }, 20))
        return gap;
    const double closed = Since(start);
    if (!WaitFor([&] { return server.Requests().size() >= 2; }, 40)) return gap;
    gap.toRequest = Since(start) - closed;
    if (soundBack != nullptr && WaitFor([&] { return soundBack->load() > 0; }, 40))
        gap.toSound = soundBack->load() - closed;
    return gap;
}

std::atomic<double> g_soundBack{0};
Clock::time_point g_start;

void OnReconnect(HSYNC, DWORD, DWORD round, void*)
{
    if (round == 0 && g_soundBack.load() == 0) g_soundBack = Since(g_start);
}

Gap SonivexGap(const std::string& before, const std::string& after)
{
    kit::FakeServer server;
    RouteDroppingStream(server, before, after);
    BASS_Init(0, 44100, 0, nullptr, nullptr);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    g_soundBack = 0;
    g_start = Clock::now();
    const HSTREAM stream = BASS_StreamCreateURL(server.Url("/live").c_str(), 0, 0, nullptr, nullptr);
    if (stream == 0) return {};
    BASS_ChannelSetSync(stream, BASS_SYNC_RECONNECT, 0, &OnReconnect, nullptr);
    BASS_ChannelPlay(stream, 0);
    const Gap gap = WatchServer(server, &g_soundBack, g_start);
    BASS_StreamFree(stream);
    BASS_Free();
    return gap;
}

Gap MpvGap(const std::string& mpv, const std::string& before, const std::string& after)
{
    kit::FakeServer server;
    RouteDroppingStream(server, before, after);
    const std::string url = server.Url("/live");
    // Its sound goes to a WAV file, which grows as the stream comes in:
    // the new tone at its end is the new connection's sound.
    const std::string wav = "/tmp/reconnect_bench_mpv.wav";
    std::remove(wav.c_str());
    std::vector<std::string> args = {
        mpv, "--no-config", "--no-video", "--ao=pcm", "--ao-pcm-file=" + wav, "--really-quiet",
        "--audio-format=s16", "--audio-samplerate=44100", "--audio-channels=stereo",
        "--stream-lavf-o=reconnect=1,reconnect_streamed=1,reconnect_at_eof=1,"
        "reconnect_on_network_error=1,reconnect_delay_max=1",
        url};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const auto start = Clock::now();
    if (posix_spawn(&pid, mpv.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return {};
    std::atomic<double> soundBack{0};
    std::atomic<bool> watching{true};
    std::thread listener([&] {
        bool oldTone = false;
        while (watching) {
            const int crossings = LatestCrossings(wav);
            if (crossings >= 18 && crossings <= 22) oldTone = true;
            if (oldTone && crossings >= 12 && crossings <= 16 && soundBack == 0) soundBack = Since(start);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const Gap gap = WatchServer(server, &soundBack, start);
    watching = false;
    listener.join();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::remove(wav.c_str());
    return gap;
}

// ---- title lag

std::vector<std::int16_t> Samples(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                               (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return samples;
}

std::size_t FileSize(const std::string& path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    return file ? static_cast<std::size_t>(file.tellg()) : 0;
}

std::atomic<std::size_t> g_bytesAtSync{0};
std::string g_disk;

void OnTitle(HSYNC, DWORD, DWORD, void*)
{
    if (g_bytesAtSync == 0) g_bytesAtSync = FileSize(g_disk);
}

double TitleLag()
{
    const std::string low = kit::EncodeTone("mp3", 12, 500);
    const std::string high = kit::EncodeTone("mp3", 14, 2000);
    const std::string audio = low + high;
    constexpr std::size_t kMetaint = 500;
    std::vector<std::string> blocks;
    bool changed = false;
    for (std::size_t at = kMetaint; at <= audio.size(); at += kMetaint) {
        if (at == kMetaint)
            blocks.push_back("StreamTitle='Low';");
        else if (!changed && at >= low.size())
            blocks.push_back("StreamTitle='High';"), changed = true;
        else
            blocks.push_back("");
    }
    kit::FakeServer server;
    server.Route("/titles",
                 Script()
                     .Send(Script::IcyHead({"content-type:audio/mpeg", "icy-metaint:" + std::to_string(kMetaint)}) +
                           kit::IcyInterleave(audio.substr(0, audio.size() / kMetaint * kMetaint), kMetaint, blocks))
                     .Hang());
    g_disk = "/tmp/reconnect_bench_disk.raw";
    std::remove(g_disk.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", g_disk.c_str(), 1);
    BASS_Init(-1, 44100, 0, nullptr, nullptr);
    BASS_SetConfig(BASS_CONFIG_BUFFER, 10000);
    BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 30000);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    const HSTREAM stream = BASS_StreamCreateURL(server.Url("/titles").c_str(), 0, 0, nullptr, nullptr);
    if (stream == 0) return -1;
    g_bytesAtSync = 0;
    BASS_ChannelSetSync(stream, BASS_SYNC_META, 0, &OnTitle, nullptr);
    BASS_ChannelPlay(stream, 0);
    WaitFor([] { return g_bytesAtSync > 0; }, 30);
    const std::size_t syncFrame = g_bytesAtSync / 4;
    WaitFor([&] { return FileSize(g_disk) / 4 > syncFrame + 44100; }, 10);
    BASS_Free();
    const std::vector<std::int16_t> samples = Samples(g_disk);
    std::remove(g_disk.c_str());
    std::vector<int> windows;  // crossings per 10 ms of loud sound
    for (std::size_t start = 0; start + 2 * 441 <= samples.size(); start += 2 * 441) {
        int crossings = 0, loudest = 0;
        for (std::size_t i = start + 2; i < start + 2 * 441; i += 2) {
            if ((samples[i - 2] < 0) != (samples[i] < 0)) ++crossings;
            loudest = std::max(loudest, std::abs(int{samples[i]}));
        }
        windows.push_back(loudest > 10000 ? crossings : 0);
    }
    for (std::size_t w = 0; w + 1 < windows.size(); ++w)
        if (windows[w] > 30 && windows[w + 1] > 30)
            return (static_cast<double>(syncFrame) - static_cast<double>(w * 441)) / 44100.0;
    return -1;
}

void PrintGap(const char* player, const Gap& gap)
{
    std::printf("%-14s close to new request %6.3f s", player, gap.toRequest);
    if (gap.toSound > -1) std::printf(", to the new sound in its output %6.3f s", gap.toSound);
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mpv = "/usr/bin/mpv";
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--mpv") mpv = argv[i + 1];
        if (option == "--rounds") rounds = std::atoi(argv[i + 1]);
    }
    const std::string before = kit::EncodeTone("mp3", 10, 1000);
    const std::string after = kit::EncodeTone("mp3", 30, 700);
    for (int round = 0; round < rounds; ++round) {
        PrintGap("libsonivex", SonivexGap(before, after));
        // mpv's pcm output is not paced by a clock: it writes as soon as it
        // decodes, with nothing played ahead, unlike an output to a device.
        if (access(mpv.c_str(), X_OK) == 0) PrintGap("mpv (pcm)", MpvGap(mpv, before, after));
    }
    std::printf("title lag with a 10 s buffer: %.3f s\n", TitleLag());
    return 0;
}
