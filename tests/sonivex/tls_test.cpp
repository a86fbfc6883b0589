// Secure stations: a TLS server of the tests' own (openssl s_server with a
// certificate made for the test), reached directly and through a redirect
// from http, and the failures a listener meets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "fake_server.h"
#include "library_test.h"
#include "test_sounds.h"

namespace sonivex_test {
namespace {

// openssl s_server serving the files of a temporary folder over TLS.
class TlsServer {
public:
    TlsServer()
    {
        char name[] = "/tmp/ondalux-tls-XXXXXX";
        folder_ = mkdtemp(name);
        const std::string command = "cd " + folder_ +
                                    " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem"
                                    " -out cert.pem -days 1 -subj /CN=127.0.0.1"
                                    " -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl req failed");
        std::ofstream(folder_ + "/tone.mp3", std::ios::binary) << kit::EncodeTone("mp3", 3, 1000);
        port_ = kit::UnusedPort();
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(folder_.c_str()) != 0) _exit(127);
            const std::string accept = std::to_string(port_);
            execlp("openssl", "openssl", "s_server", "-quiet", "-WWW", "-accept", accept.c_str(),
                   "-cert", "cert.pem", "-key", "key.pem", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Ready once it accepts.
        WaitUntil(
            [&] {
                try {
                    kit::RawExchange(port_, "", 1, 50);
                    return true;
                } catch (const std::exception&) {
                    return false;
                }
            },
            std::chrono::seconds(5));
    }
    ~TlsServer()
    {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        std::system(("rm -rf " + folder_).c_str());
    }
    std::string Url(const std::string& path) const
    {
        return "https://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string Certificate() const { return folder_ + "/cert.pem"; }

private:
    std::string folder_;
    int port_ = 0;
    pid_t pid_ = -1;
};

struct Tls : LibraryTest {
    void TearDown() override
    {
        unsetenv("SONIVEX_CA_FILE");
        LibraryTest::TearDown();
    }
};

TEST_F(Tls, ASecureStationPlaysWhenItsCertificateIsTrusted)
{
    TlsServer tls;
    kit::FakeServer plain;
    plain.Route("/secure", kit::Script().Send(kit::Script::HttpHead(
                               302, "Found", {"Location: " + tls.Url("/tone.mp3")})));

    // An unknown issuer: refused, with a code of its own.
    EXPECT_EQ(Open(tls.Url("/tone.mp3")), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_TLS);

    setenv("SONIVEX_CA_FILE", tls.Certificate().c_str(), 1);
    for (const std::string& url : {tls.Url("/tone.mp3"), plain.Url("/secure")}) {
        SCOPED_TRACE(url);
        DownloadRecord& record = NewRecord();
        const HSTREAM stream = Open(url, &record);
        ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
        EXPECT_EQ(record.Statuses().back(), "HTTP/1.0 200 ok");
        ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
        std::int16_t samples[1024];
        EXPECT_TRUE(WaitUntil(
            [&] {
                if (BASS_ChannelGetData(stream, samples, sizeof samples) != sizeof samples)
                    return false;
                return std::any_of(std::begin(samples), std::end(samples),
                                   [](std::int16_t s) { return s > 20000; });
            },
            std::chrono::seconds(3)));
        BASS_StreamFree(stream);
    }
}

TEST_F(Tls, TalkingTlsToAPlainServerFailsAsTls)
{
    // A plain server that answers at once, before any request: TLS's hello
    // meets an HTTP status line.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    listen(listener, 1);
    std::thread server([listener] {
        const int client = accept(listener, nullptr, nullptr);
        if (client < 0) return;
        const char answer[] = "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n";
        send(client, answer, sizeof answer - 1, MSG_NOSIGNAL);
        // Open until the client, its hello met by that line, gives up and
        // closes; 5 s at most.
        pollfd readable{client, POLLIN, 0};
        char scratch[4096];
        while (poll(&readable, 1, 5000) > 0 && recv(client, scratch, sizeof scratch, 0) > 0) {
        }
        close(client);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Open("https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_TLS);
    EXPECT_LT(SecondsSince(start), 1.0);
    server.join();
    close(listener);
}

}  // namespace
}  // namespace sonivex_test
