// hostile_bench: how long hostile servers hold an open, and what a flood of
// titles costs, measured against whichever libsonivex the loader finds (run
// it with LD_LIBRARY_PATH pointing at another build to compare two).
//
//   hostile_bench [--cap SECONDS] [--flood SECONDS]
//
// Each open runs with the library's default limits; one that is still
// running after the cap is ended with BASS_Free and reported as "> cap".
// The title flood plays a stream whose server sends a new title after
// every audio byte to a sync callback that takes 20 ms, and prints the
// process's resident memory as it goes.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "fake_server.h"
#include "sonivex.h"
#include "test_sounds.h"

namespace {

using kit::Script;
using Clock = std::chrono::steady_clock;

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

void Init()
{
    BASS_Init(0, 44100, 0, nullptr, nullptr);
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
}

// Opens url with a watchdog that frees the library after cap seconds.
void TimeOpen(const char* name, const std::string& url, double cap, const kit::FakeServer& server)
{
    Init();
    const std::size_t requestsBefore = server.Requests().size();
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        const auto until = Clock::now() + std::chrono::duration<double>(cap);
        while (!done && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!done) BASS_Free();
    });
    const auto start = Clock::now();
    const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
    const int error = BASS_ErrorGetCode();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    done = true;
    watchdog.join();
    const std::size_t requests = server.Requests().size() - requestsBefore;
    if (seconds >= cap - 0.05)
        std::printf("%-28s > %.0f s (ended by BASS_Free), %zu requests\n", name, cap, requests);
    else
        std::printf("%-28s %6.2f s, error %d, stream %s, %zu requests\n", name, seconds, error,
                    stream ? "opened" : "none", requests);
    std::fflush(stdout);
    if (stream) BASS_StreamFree(stream);
    BASS_Free();
}

std::atomic<int> g_titles{0};

void SlowTitle(HSYNC, DWORD channel, DWORD, void*)
{
    BASS_ChannelGetTags(channel, BASS_TAG_META);
    ++g_titles;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

int main(int argc, char** argv)
{
    double cap = 60;
    double flood = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--cap") cap = std::atof(argv[i + 1]);
        if (option == "--flood") flood = std::atof(argv[i + 1]);
    }
    const std::string mp3 = kit::EncodeTone("mp3", 4, 1000);
    kit::FakeServer server;
    kit::SilentServer silent;
    const std::string head = Script::IcyHead({"content-type:audio/mpeg", "icy-name:Slow"});
    server.Route("/good", Script().Send(head).Repeat(mp3, 0));
    server.Route("/slow-head", Script().SendSlowly(head + mp3, 1, 1000));
    server.Route("/slow-body", Script().Send(head).SendSlowly(mp3, 1, 1000));
    server.Route("/slow-list.pls",
                 Script().Send(Script::HttpHead(200, "OK", {"Content-Type: audio/x-scpls"}))
                     .SendSlowly("[playlist]\nFile1=" + server.Url("/good") + "\n", 1, 1000));
    std::string silentList = "#EXTM3U\n";
    for (int i = 0; i < 20; ++i) silentList += silent.Url("/s" + std::to_string(i)) + "\n";
    server.Route("/silent.m3u", Script().Send(Script::HttpHead(200, "OK", {}) + silentList));
    std::string multiplying = "#EXTM3U\n";
    for (int i = 0; i < 256; ++i) multiplying += "k" + std::to_string(i) + "/\n";
    server.SetFallback(Script().Send(
        Script::HttpHead(200, "OK", {"Content-Type: audio/x-mpegurl"}) + multiplying));

    std::printf("library %08x, cap %.0f s\n", BASS_GetVersion(), cap);
    TimeOpen("dribbled headers (1 B/s)", server.Url("/slow-head"), cap, server);
    TimeOpen("dribbled body (1 B/s)", server.Url("/slow-body"), cap, server);
    TimeOpen("dribbled playlist (1 B/s)", server.Url("/slow-list.pls"), cap, server);
    TimeOpen("20 silent entries", server.Url("/silent.m3u"), cap, server);
    TimeOpen("self-multiplying playlist", server.Url("/many/"), cap, server);

    if (flood <= 0) return 0;
    // A new title after every audio byte, each one different.
    std::vector<std::string> titles;
    for (std::size_t i = 0; i < mp3.size(); ++i)
        titles.push_back("StreamTitle='Title number " + std::to_string(i) + "';");
    server.Route("/flood", Script()
                               .Send(Script::IcyHead({"content-type:audio/mpeg", "icy-metaint:1"}))
                               .Repeat(kit::IcyInterleave(mp3, 1, titles), 0));
    Init();
    const HSTREAM stream =
        BASS_StreamCreateURL(server.Url("/flood").c_str(), 0, 0, nullptr, nullptr);
    if (stream == 0) {
        std::printf("flood: cannot open (%d)\n", BASS_ErrorGetCode());
        return 1;
    }
    BASS_ChannelSetSync(stream, BASS_SYNC_META, 0, &SlowTitle, nullptr);
    BASS_ChannelPlay(stream, 0);
    const auto start = Clock::now();
    const int step = flood >= 20 ? 10 : 2;
    for (int second = 0; second <= static_cast<int>(flood); second += step) {
        std::this_thread::sleep_until(start + std::chrono::seconds(second));
        std::printf("flood %2d s: resident %6ld KiB, %d titles delivered, %llu audio bytes in\n",
                    second, ResidentKiB(), g_titles.load(),
                    static_cast<unsigned long long>(
                        BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD)));
        std::fflush(stdout);
    }
    BASS_StreamFree(stream);
    BASS_Free();
    std::_Exit(0);
}
