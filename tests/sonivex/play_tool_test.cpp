// sonivex-play as a user runs it: stopped with Ctrl-C or SIGTERM while a
// station is still being opened, and telling why a stream ended.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_server.h"
#include "test_sounds.h"
#include "wait_until.h"

extern char** environ;

namespace {

using kit::Script;
using Clock = std::chrono::steady_clock;

// One run of the tool, its standard output going to a file.
class Player {
public:
    explicit Player(const std::string& address, std::vector<std::string> options = {})
    {
        char name[] = "/tmp/sonivex-play-XXXXXX";
        const int fd = mkstemp(name);
        output_ = name;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
        std::vector<const char*> argv = {SONIVEX_PLAY, "--no-sound"};
        for (const std::string& option : options) argv.push_back(option.c_str());
        argv.push_back(address.c_str());
        argv.push_back(nullptr);
        spawned_ = posix_spawn(&pid_, SONIVEX_PLAY, &actions, nullptr,
                               const_cast<char**>(argv.data()), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(fd);
    }
    ~Player()
    {
        if (spawned_ && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        unlink(output_.c_str());
    }
    bool Spawned() const { return spawned_; }
    void Signal(int signal) { kill(pid_, signal); }
    // Waits for the exit, at most timeout; true when it came.
    bool WaitForExit(std::chrono::milliseconds timeout)
    {
        const auto until = Clock::now() + timeout;
        while (Clock::now() < until) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    int ExitCode() const { return exitCode_; }
    std::string Output() const
    {
        std::ifstream file(output_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    std::string output_;
    pid_t pid_ = 0;
    bool spawned_ = false;
    bool exited_ = false;
    int exitCode_ = -1;
};

TEST(PlayTool, ASignalEndsItWhileTheStationIsStillOpening)
{
    kit::SilentServer silent;
    kit::FakeServer dribbling;
    dribbling.Route("/", Script()
                             .Send(Script::IcyHead({"content-type:audio/mpeg"}))
                             .SendSlowly(kit::EncodeTone("mp3", 2, 1000), 1, 200));
    struct Case {
        const char* name;
        std::string address;
        int signal;
        std::function<bool()> opening;
    };
    const Case cases[] = {
        {"Ctrl-C, silent server", silent.Url("/"), SIGINT,
         [&] { return silent.ConnectionCount() > 0; }},
        {"SIGTERM, dribbling server", dribbling.Url("/"), SIGTERM,
         [&] { return dribbling.ConnectionCount() > 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Player player(c.address);
        ASSERT_TRUE(player.Spawned());
        // The open has begun: the server has its connection.
        ASSERT_TRUE(kit::WaitUntil(c.opening, std::chrono::seconds(5)));
        const auto signalled = Clock::now();
        player.Signal(c.signal);
        ASSERT_TRUE(player.WaitForExit(std::chrono::seconds(3))) << player.Output();
        const double seconds = std::chrono::duration<double>(Clock::now() - signalled).count();
        std::printf("[ play     ] %s: ended %.3f s after the signal\n", c.name, seconds);
        EXPECT_EQ(player.ExitCode(), 0);
        EXPECT_NE(player.Output().find("stopped"), std::string::npos) << player.Output();
    }
}

TEST(PlayTool, ItSaysWhyAStreamEnded)
{
    const std::string mp3 = kit::EncodeTone("mp3", 1, 1000);
    kit::FakeServer server;
    server.Route("/cut", Script().Send(Script::IcyHead({"content-type:audio/mpeg"}) + mp3).Close());
    // Lost once it plays, back once, lost again and gone.
    const std::string head = Script::IcyHead({"content-type:audio/mpeg"});
    server.RouteSequence("/again", {Script().Send(head + mp3).Pause(1500).Close(),
                                    Script().Send(head + mp3).Pause(1500).Close(),
                                    Script().Send(Script::HttpHead(404, "Not Found", {}))});
    server.Route("/file", Script().Send(Script::HttpHead(200, "OK",
                                                         {"Content-Type: audio/mpeg",
                                                          "Content-Length: " +
                                                              std::to_string(mp3.size())}) +
                                        mp3));
    struct Case {
        const char* path;
        const char* reconnect;
        std::vector<std::string> lines;
    };
    const std::string broke =
        "download ended: the connection broke or the server closed it (BASS_ERROR_HTTP)";
    const Case cases[] = {
        {"/cut", "0", {broke, "stream ended"}},
        {"/file", "60", {"download ended: the whole stream was received (BASS_OK)", "stream ended"}},
        {"/again", "3",
         {"connection lost, reconnecting (1)", "back", "connection lost, reconnecting (1)",
          "connection lost, reconnecting (2)", broke, "stream ended"}},
    };
    // The three players at once: each has a path of its own.
    std::vector<std::unique_ptr<Player>> players;
    for (const Case& c : cases)
        players.push_back(std::make_unique<Player>(server.Url(c.path),
                                                   std::vector<std::string>{"--reconnect", c.reconnect}));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Player& player = *players[i];
        SCOPED_TRACE(c.path);
        ASSERT_TRUE(player.Spawned());
        ASSERT_TRUE(player.WaitForExit(std::chrono::seconds(20))) << player.Output();
        // The lines in this order, others between them.
        const std::string output = player.Output();
        std::size_t from = 0;
        for (const std::string& line : c.lines) {
            const std::size_t at = output.find(line + "\n", from);
            EXPECT_NE(at, std::string::npos) << line << " in\n" << output;
            if (at != std::string::npos) from = at + line.size();
        }
    }
}

TEST(PlayTool, ItSaysWhyAStationCannotBeOpened)
{
    kit::FakeServer server;
    server.Route("/page", Script().Send(Script::HttpHead(200, "OK", {"Content-Type: text/html"}) +
                                        "<html>offline</html>"));
    server.Route("/gone", Script().Send(Script::HttpHead(404, "Not Found", {})));
    const std::string refused = "http://127.0.0.1:" + std::to_string(kit::UnusedPort()) + "/";
    struct Case {
        std::string address;
        std::string reason;
    };
    const Case cases[] = {
        {"http://no-such-host.invalid/", "no such host (BASS_ERROR_NOHOST)"},
        {refused, "connection refused (BASS_ERROR_CONNECT)"},
        {server.Url("/gone"), "the server answered with an error (BASS_ERROR_HTTP)"},
        {server.Url("/page"), "not an audio stream (BASS_ERROR_NOTAUDIO)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        Player player(c.address);
        ASSERT_TRUE(player.Spawned());
        ASSERT_TRUE(player.WaitForExit(std::chrono::seconds(20))) << player.Output();
        EXPECT_EQ(player.ExitCode(), 1);
        EXPECT_NE(player.Output().find("error: cannot open " + c.address + ": " + c.reason + "\n"),
                  std::string::npos)
            << player.Output();
    }
}

}  // namespace
