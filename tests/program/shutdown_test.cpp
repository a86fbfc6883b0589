// The program as a process: the system's end signals close it in order, it
// writes its settings and it never hangs, also while a station is opening.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "fake_server.h"
#include "test_sounds.h"
#include "wait_until.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

struct Launched {
    pid_t pid = -1;
    std::string folder;
};

// Starts the program in a fresh folder of its own, its station addresses
// going through the proxy at proxyUrl.
Launched Launch(const std::string& proxyUrl, const std::function<void(const std::string&)>& prepare = {})
{
    char name[] = "/tmp/ondalux-run-XXXXXX";
    Launched run{-1, mkdtemp(name)};
    // A copy of the program of its own, so that the log it leaves in its
    // folder at exit lands here too.
    const std::string program = run.folder + "/ondalux";
    std::filesystem::copy_file(ONDALUX_PROGRAM, program);
    if (prepare) prepare(run.folder);
    const std::string errors = run.folder + "/stderr.txt";
    run.pid = fork();
    if (run.pid == 0) {
        if (chdir(run.folder.c_str()) != 0) _exit(127);
        if (!freopen(errors.c_str(), "w", stderr)) _exit(127);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        setenv("http_proxy", proxyUrl.c_str(), 1);
        setenv("no_proxy", "", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return run;
}

// Waits for the process to end, at most timeout; its exit status or -1.
int WaitFor(pid_t pid, std::chrono::milliseconds timeout)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// The program's worker tells the window "connecting" and waits for the main
// thread to take that before it connects, so once the station's server has
// its request, the program is up, its windows are made and its event loop
// runs: an end signal now is one the program has to handle.
constexpr const char* kUp = "start-up did not get as far as asking for the station";

// Sends the signal; the program must end cleanly within a second.
void EndsWithinASecond(const Launched& run, int signal)
{
    const auto start = std::chrono::steady_clock::now();
    kill(run.pid, signal);
    EXPECT_EQ(WaitFor(run.pid, std::chrono::seconds(3)), 0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
}

TEST(Shutdown, EachEndSignalClosesTheProgramInOrder)
{
    kit::FakeServer proxy;
    // Any station: an endless tone.
    proxy.SetFallback(kit::Script()
                          .Send(kit::Script::IcyHead({"icy-name:Any", "content-type:audio/mpeg"}))
                          .Repeat(kit::EncodeTone("mp3", 4, 1000), 0));
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        const std::size_t asked = proxy.Requests().size();  // by the runs before
        Launched run = Launch(proxy.Url(""));
        EXPECT_TRUE(proxy.WaitForRequests(asked + 1, std::chrono::seconds(10))) << kUp;
        EndsWithinASecond(run, signal);
        const std::string settings = ReadFile(run.folder + "/Ondalux.ini");
        EXPECT_NE(settings.find("[Ondalux]\r\nLastStation=http://"), std::string::npos) << settings;
        EXPECT_NE(settings.find("\r\nLastNamber=0\r\n"), std::string::npos);
        // The listening log, from its header to its footer.
        std::string log;
        for (const auto& entry : std::filesystem::directory_iterator(run.folder))
            if (entry.path().extension() == ".log" && entry.path().filename().string()[0] == '_')
                log = ReadFile(entry.path());
        const std::string separator = " " + std::string(46, '-') + " \r\n";
        EXPECT_EQ(log.rfind(separator, 0), 0u) << log;
        EXPECT_NE(log.find("\r\n \xC2\xFB\xEA\xEB\xFE\xF7\xE5\xED "), std::string::npos);  // " Выключен "
        EXPECT_EQ(log.substr(log.size() - separator.size()), separator);
        std::filesystem::remove_all(run.folder);
    }
}

TEST(Shutdown, ASettingsFileThatCannotBeWrittenDoesNotHoldAnEndSignal)
{
    kit::SilentServer proxy;
    // A read-only settings file: it cannot be written, not even by root.
    Launched run = Launch(proxy.Url(""), [](const std::string& folder) {
        std::ofstream(folder + "/Ondalux.ini") << "[Ondalux]\r\nLastNamber=3\r\n";
        std::filesystem::permissions(folder + "/Ondalux.ini", std::filesystem::perms::owner_read);
    });
    EXPECT_TRUE(kit::WaitUntil([&] { return proxy.HangingConnectionCount() > 0; },
                               std::chrono::seconds(10)))
        << kUp;
    EndsWithinASecond(run, SIGTERM);
    // Nobody was there to read a box: the message went to standard error.
    EXPECT_NE(ReadFile(run.folder + "/stderr.txt").find("Unable to write to .\\Ondalux.ini"), std::string::npos)
        << ReadFile(run.folder + "/stderr.txt");
    std::filesystem::remove_all(run.folder);
}

TEST(Shutdown, ASettingsFileThatIsNotARegularFileIsReadAsNoneAndLeftAlone)
{
    namespace fs = std::filesystem;
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> make;
        std::function<bool(const std::string& path)> still;
    };
    const Case cases[] = {
        // Nobody ever writes into the FIFO: reading it must not wait.
        {"a FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); },
         [](const std::string& path) { return fs::is_fifo(fs::symlink_status(path)); }},
        {"a link to an endless device",
         [](const std::string& path) { fs::create_symlink("/dev/zero", path); },
         [](const std::string& path) { return fs::read_symlink(path) == "/dev/zero"; }},
        {"a folder", [](const std::string& path) { fs::create_directory(path); },
         [](const std::string& path) { return fs::is_directory(path) && fs::is_empty(path); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kit::FakeServer proxy;  // every station answers 404
        Launched run = Launch(proxy.Url(""),
                              [&](const std::string& folder) { c.make(folder + "/Ondalux.ini"); });
        // The first station is asked for once the settings were read.
        EXPECT_TRUE(proxy.WaitForRequests(1, std::chrono::seconds(10)))
            << "start-up did not get past the settings file";
        EndsWithinASecond(run, SIGTERM);
        const std::string errors = ReadFile(run.folder + "/stderr.txt");
        EXPECT_NE(errors.find("Ondalux.ini is not a regular file; the settings are not saved\n"),
                  std::string::npos)
            << errors;
        EXPECT_EQ(errors.find("Unable to write to"), std::string::npos) << errors;
        EXPECT_TRUE(c.still(run.folder + "/Ondalux.ini"));
        fs::remove_all(run.folder);
    }
}

TEST(Shutdown, AWorkerStillOpeningAStationDoesNotHoldTheProgram)
{
    kit::SilentServer proxy;  // every station connects and never answers
    Launched run = Launch(proxy.Url(""));
    // The worker is opening the first station: the server has its request.
    EXPECT_TRUE(kit::WaitUntil([&] { return proxy.HangingConnectionCount() > 0; },
                               std::chrono::seconds(10)))
        << kUp;
    EndsWithinASecond(run, SIGTERM);
    EXPECT_NE(ReadFile(run.folder + "/Ondalux.ini").find("LastNamber=0"), std::string::npos);
    std::filesystem::remove_all(run.folder);
}

}  // namespace
