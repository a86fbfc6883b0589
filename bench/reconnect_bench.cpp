// reconnect_bench: what a listener meets when a station's server drops the
// connection, and how late a title changes, side by side with mpv.
//
//   reconnect_bench [--mpv PATH] [--sonivex-play PATH] [--rounds N]
//
// Gap: a local live stream, sent at its own pace, is closed by its server
// mid-stream and served again at once with another tone. sonivex-play and
// mpv (with its reconnect options at their quickest), each at its own
// buffering, play 16-bit stereo at 44100 Hz through SDL's disk driver,
// which writes its file at the pace of a sound card. The server's side
// gives the time from its close to the player's new request; the file,
// when the new connection's tone is played and how long the silence before
// it was.
// Title lag: a stream whose title changes where its tone does, with a 10 s
// playback buffer filled ahead, played into SDL's disk driver: how long
// after the tone change reached the output the META sync came.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
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

// Zero crossings of the first channel in 16-bit stereo frames: about 20
// per 10 ms for 1000 Hz, 14 for 700 Hz; 0 for quiet sound.
int Crossings(const char* bytes, std::size_t frames)
{
    int crossings = 0, loudest = 0;
    std::int16_t previous = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto sample = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[4 * i]) |
                                                      (static_cast<unsigned char>(bytes[4 * i + 1]) << 8));
        if (i > 0 && (previous < 0) != (sample < 0)) ++crossings;
        loudest = std::max(loudest, std::abs(int{sample}));
        previous = sample;
    }
    return loudest > 10000 ? crossings : 0;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

struct Gap {
    double toRequest = -1;  // close to the new request
    double toSound = -1;    // close to the new connection's sound at the output
    double silence = -1;    // between the old connection's sound and the new
};

// Where in a clock-paced output's file of 16-bit stereo the 700 Hz tone
// begins after the 1000 Hz one, in 10 ms windows: the first of 10 windows
// on end of it (the edges of a gap in the old tone can look like it for a
// window or two), and the last window of the old tone before it.
struct ToneChange {
    std::size_t oldLast = 0, newFirst = 0;
    bool found = false;
};

ToneChange FindToneChange(const std::string& bytes)
{
    constexpr std::size_t kWindow = 441 * 4;
    ToneChange change;
    bool oldSeen = false;
    std::size_t run = 0;
    for (std::size_t w = 0; (w + 1) * kWindow <= bytes.size(); ++w) {
        const int crossings = Crossings(bytes.data() + w * kWindow, 441);
        if (crossings >= 18 && crossings <= 22) {
            oldSeen = true;
            change.oldLast = w;
            run = 0;
        } else if (oldSeen && crossings >= 13 && crossings <= 15) {
            if (++run == 10) {
                change.newFirst = w - 9;
                change.found = true;
                return change;
            }
        } else {
            run = 0;
        }
    }
    return change;
}

// Notes how a clock-paced output's file grows, which tells when each of its
// sounds was played, while the server's side is watched.
class FileListener {
public:
    FileListener(std::string path, Clock::time_point start)
        : path_(std::move(path)), start_(start), thread_([this] {
              for (; watching_; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
                  std::error_code missing;
                  const auto size = static_cast<std::size_t>(std::filesystem::file_size(path_, missing));
                  if (missing) continue;
                  {
                      std::lock_guard guard(lock_);
                      if (growth_.empty() || growth_.back().second != size)
                          growth_.emplace_back(Since(start_), size);
                  }
              }
          })
    {
    }
    ~FileListener()
    {
        watching_ = false;
        thread_.join();
    }

    // Waits for the close, the new request and the new tone in the file.
    Gap Watch(const kit::FakeServer& server)
    {
        Gap gap;
        if (!WaitFor([&] { return server.ConnectionCount() >= 1; }, 20)) return gap;
        if (!WaitFor([&] { return server.OpenConnectionCount() == 0 || server.Requests().size() >= 2; }, 20))
            return gap;
        const double closed = Since(start_);
        if (!WaitFor([&] { return server.Requests().size() >= 2; }, 40)) return gap;
        gap.toRequest = Since(start_) - closed;
        ToneChange change;
        for (const auto until = Clock::now() + std::chrono::seconds(40); !change.found && Clock::now() < until;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            change = FindToneChange(ReadAll(path_));
        }
        if (!change.found) return gap;
        gap.silence = static_cast<double>(change.newFirst - change.oldLast - 1) * 0.01;
        // Played when the file grew past it.
        const std::size_t end = (change.newFirst + 1) * 441 * 4;
        std::lock_guard guard(lock_);
        for (const auto& [at, size] : growth_)
            if (size >= end) {
                gap.toSound = at - closed;
                break;
            }
        return gap;
    }

private:
    std::string path_;
    Clock::time_point start_;
    std::mutex lock_;
    std::vector<std::pair<double, std::size_t>> growth_;  // seconds since start, bytes
    std::atomic<bool> watching_{true};
    std::thread thread_;
};

// Plays the dropping stream with a player of its own process, through
// SDL's disk driver, and watches the way back.
Gap PlayerGap(std::vector<std::string> args, const std::string& before, const std::string& after)
{
    kit::FakeServer server;
    RouteDroppingStream(server, before, after);
    args.push_back(server.Url("/live"));
    const std::string disk = "/tmp/reconnect_bench_gap.raw";
    std::remove(disk.c_str());
    setenv("SDL_DISKAUDIOFILE", disk.c_str(), 1);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const auto start = Clock::now();
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    const bool spawned = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&quiet);
    if (!spawned) return {};
    Gap gap;
    {
        FileListener listener(disk, start);
        gap = listener.Watch(server);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::remove(disk.c_str());
    return gap;
}

// ---- title lag

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
    const std::string played = ReadAll(g_disk);
    std::remove(g_disk.c_str());
    // The first two 10 ms windows on end of the high tone.
    constexpr std::size_t kWindow = 441 * 4;
    for (std::size_t w = 0; (w + 2) * kWindow <= played.size(); ++w)
        if (Crossings(played.data() + w * kWindow, 441) > 30 &&
            Crossings(played.data() + (w + 1) * kWindow, 441) > 30)
            return (static_cast<double>(syncFrame) - static_cast<double>(w * 441)) / 44100.0;
    return -1;
}

void PrintGap(const char* player, const Gap& gap)
{
    std::printf("%-13s close to new request %6.3f s", player, gap.toRequest);
    if (gap.toSound >= 0) std::printf(", to the new sound in its output %6.3f s", gap.toSound);
    if (gap.silence >= 0) std::printf(", silence heard %6.3f s", gap.silence);
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mpv = "/usr/bin/mpv";
    // Beside this program in the build: bench/ and tools/.
    std::string player = (std::filesystem::path(argv[0]).parent_path() / "../tools/sonivex-play").string();
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--mpv") mpv = argv[i + 1];
        if (option == "--sonivex-play") player = argv[i + 1];
        if (option == "--rounds") rounds = std::atoi(argv[i + 1]);
    }
    // Every player's sound goes to SDL's disk driver, paced like a sound
    // card.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    const std::string before = kit::EncodeTone("mp3", 10, 1000);
    const std::string after = kit::EncodeTone("mp3", 30, 700);
    for (int round = 0; round < rounds; ++round) {
        if (access(player.c_str(), X_OK) == 0) PrintGap("sonivex-play", PlayerGap({player}, before, after));
        if (access(mpv.c_str(), X_OK) == 0)
            PrintGap("mpv", PlayerGap({mpv, "--no-config", "--no-video", "--ao=sdl", "--really-quiet",
                                       "--audio-format=s16", "--audio-samplerate=44100",
                                       "--audio-channels=stereo",
                                       "--stream-lavf-o=reconnect=1,reconnect_streamed=1,reconnect_at_eof=1,"
                                       "reconnect_on_network_error=1,reconnect_delay_max=1"},
                                      before, after));
    }
    std::printf("title lag with a 10 s buffer: %.3f s\n", TitleLag());
    return 0;
}
