#include "icecast_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "fake_server.h"
#include "test_sounds.h"

namespace kit {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kIcecast = "/usr/bin/icecast2";

std::string RandomPassword()
{
    std::random_device random;
    std::string password;
    for (int i = 0; i < 16; ++i)
        password += "0123456789abcdef"[random() % 16];
    return password;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Tail(const std::string& text, std::size_t size = 2000)
{
    return text.size() <= size ? text : text.substr(text.size() - size);
}

std::string PercentEncoded(std::string_view text)
{
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            encoded += escape;
        }
    }
    return encoded;
}

std::string Base64(std::string_view text)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(text[i]) << 16;
        if (i + 1 < text.size()) value |= static_cast<unsigned char>(text[i + 1]) << 8;
        if (i + 2 < text.size()) value |= static_cast<unsigned char>(text[i + 2]);
        encoded += alphabet[(value >> 18) & 63];
        encoded += alphabet[(value >> 12) & 63];
        encoded += i + 1 < text.size() ? alphabet[(value >> 6) & 63] : '=';
        encoded += i + 2 < text.size() ? alphabet[value & 63] : '=';
    }
    return encoded;
}

std::string Normalized(std::string_view mount)
{
    std::string normalized = mount.starts_with('/') ? "" : "/";
    normalized.append(mount);
    return normalized;
}

// Icecast refuses to run as root unless told to change its owner, and a
// process that changes its owner loses its parent-death signal. So a root
// test drops to "nobody" itself before starting the server.
struct Identity {
    uid_t uid;
    gid_t gid;
};

std::optional<Identity> UnprivilegedIdentity()
{
    if (geteuid() != 0) return std::nullopt;
    const passwd* nobody = getpwnam("nobody");
    if (!nobody) throw std::runtime_error("running as root, but there is no user 'nobody'");
    return Identity{nobody->pw_uid, nobody->pw_gid};
}

// Starts a program whose output goes to `log`. It gets SIGKILL when the
// creating thread dies, so a test that crashes leaves no server running.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log,
            std::optional<Identity> identity)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int output = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (input < 0 || output < 0) {
        if (input >= 0) close(input);
        if (output >= 0) close(output);
        throw std::runtime_error("cannot open " + log + ": " + std::strerror(errno));
    }
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        if (identity && (setgroups(0, nullptr) != 0 || setgid(identity->gid) != 0 ||
                         setuid(identity->uid) != 0))
            _exit(126);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(125);
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        for (int signal : {SIGTERM, SIGINT, SIGPIPE, SIGCHLD, SIGHUP})
            sigaction(signal, &standard, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(input, 0);
        dup2(output, 1);
        dup2(output, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(input);
    close(output);
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    return pid;
}

std::string FfmpegPath()
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/ffmpeg";
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    throw std::runtime_error("no ffmpeg command on the PATH");
}

std::string Config(const IcecastOptions& options, const std::string& folder, int port,
                   const std::string& sourcePassword, const std::string& adminUser,
                   const std::string& adminPassword)
{
    std::ostringstream xml;
    xml << "<icecast>\n"
        << "  <location>Ondalux tests</location>\n"
        << "  <admin>tests@localhost</admin>\n"
        << "  <hostname>127.0.0.1</hostname>\n"
        << "  <limits>\n"
        << "    <clients>100</clients>\n"
        << "    <sources>16</sources>\n"
        << "    <queue-size>" << options.queueSize << "</queue-size>\n"
        << "    <client-timeout>" << options.clientTimeoutSeconds << "</client-timeout>\n"
        << "    <header-timeout>" << options.headerTimeoutSeconds << "</header-timeout>\n"
        << "    <source-timeout>" << options.sourceTimeoutSeconds << "</source-timeout>\n"
        << "    <burst-on-connect>" << (options.burstOnConnect ? 1 : 0) << "</burst-on-connect>\n"
        << "    <burst-size>" << options.burstSize << "</burst-size>\n"
        << "  </limits>\n"
        << "  <authentication>\n"
        << "    <source-password>" << sourcePassword << "</source-password>\n"
        << "    <relay-password>" << sourcePassword << "</relay-password>\n"
        << "    <admin-user>" << adminUser << "</admin-user>\n"
        << "    <admin-password>" << adminPassword << "</admin-password>\n"
        << "  </authentication>\n"
        << "  <listen-socket>\n"
        << "    <port>" << port << "</port>\n"
        << "    <bind-address>127.0.0.1</bind-address>\n"
        << "  </listen-socket>\n"
        << "  <fileserve>1</fileserve>\n"
        << "  <paths>\n"
        << "    <basedir>" << folder << "</basedir>\n"
        << "    <logdir>" << folder << "</logdir>\n"
        << "    <webroot>/usr/share/icecast2/web</webroot>\n"
        << "    <adminroot>/usr/share/icecast2/admin</adminroot>\n"
        << "  </paths>\n"
        << "  <logging>\n"
        << "    <accesslog>access.log</accesslog>\n"
        << "    <errorlog>error.log</errorlog>\n"
        << "    <loglevel>3</loglevel>\n"
        << "  </logging>\n"
        << "  <security>\n"
        << "    <chroot>0</chroot>\n"
        << "  </security>\n"
        << "</icecast>\n";
    return xml.str();
}

}  // namespace

bool IcecastServer::Available()
{
    return access(kIcecast, X_OK) == 0 && FfmpegAvailable();
}

IcecastServer::IcecastServer(IcecastOptions options)
    : options_(options), sourcePassword_(RandomPassword()), adminPassword_(RandomPassword())
{
    std::string pattern = (fs::temp_directory_path() / "ondalux-icecast-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    folder_ = pattern;
    try {
        Start();
    } catch (...) {
        Stop(server_, 0);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        throw;
    }
}

void IcecastServer::Start()
{
    const std::optional<Identity> identity = UnprivilegedIdentity();
    // The server writes its logs here as whoever it runs as.
    if (identity && chown(folder_.c_str(), identity->uid, identity->gid) != 0)
        throw std::runtime_error("chown " + folder_ + ": " + std::strerror(errno));

    std::string failure;
    // The free port is found before the server binds it; another process may
    // take it in between, so a failed start is retried on a new port.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = UnusedPort();
        const std::string config = folder_ + "/icecast.xml";
        std::ofstream(config) << Config(options_, folder_, port_, sourcePassword_, adminUser_,
                                        adminPassword_);
        chmod(config.c_str(), 0644);  // whatever the umask, "nobody" must read it
        server_.log = folder_ + "/icecast.out";
        server_.pid = Spawn({kIcecast, "-c", config}, server_.log, identity);

        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline && !Exited(server_)) {
            try {
                if (Get("/status-json.xsl", false).starts_with("HTTP/1.0 200")) return;
            } catch (const std::runtime_error&) {
                // Not listening yet.
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        failure = ReadFile(server_.log) + ReadFile(folder_ + "/error.log");
        Stop(server_, 0);
    }
    throw std::runtime_error("icecast2 did not start: " + Tail(failure));
}

IcecastServer::~IcecastServer()
{
    for (auto& [mount, source] : sources_)
        Stop(source, 500);
    // Icecast takes about a second to wind down its threads after SIGTERM;
    // nothing of it is worth keeping, so it gets little time.
    Stop(server_, 300);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::string IcecastServer::MountUrl(std::string mount) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + Normalized(mount);
}

void IcecastServer::StartSource(std::string mount, std::string codec, int frequency,
                                int bitrateKbps, SourceInfo info)
{
    mount = Normalized(mount);
    if (sources_.count(mount)) throw std::invalid_argument(mount + " already has a source");
    std::string contentType;
    if (codec == "mp3") contentType = "audio/mpeg";
    if (codec == "aac") contentType = "audio/aac";
    if (codec == "vorbis") contentType = "application/ogg";
    if (codec == "opus") contentType = "audio/ogg";
    if (contentType.empty()) throw std::invalid_argument("Icecast cannot stream " + codec);

    const int rate = codec == "opus" ? 48000 : 44100;
    std::vector<std::string> args = {FfmpegPath(), "-hide_banner",
                                     "-loglevel",  "error",
                                     "-nostdin",   "-re",
                                     "-f",         "lavfi",
                                     "-i",         ToneSource(frequency, rate, 2, 0),
                                     "-ac",        "2"};
    for (const std::string& option : CodecOptions(codec, bitrateKbps))
        args.push_back(option);
    for (const std::string& option :
         {std::string("-content_type"), contentType, std::string("-ice_name"), info.name,
          std::string("-ice_description"), info.description, std::string("-ice_genre"), info.genre,
          std::string("-ice_url"), info.url, std::string("-ice_public"), std::string("0")})
        args.push_back(option);
    args.push_back("icecast://source:" + sourcePassword_ + "@127.0.0.1:" + std::to_string(port_) +
                   mount);

    Process source;
    source.log = folder_ + "/ffmpeg" + PercentEncoded(mount) + ".log";
    source.pid = Spawn(args, source.log, std::nullopt);

    const std::string listed = "\"listenurl\":\"" + MountUrl(mount) + "\"";
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline && !Exited(source)) {
        std::string status;
        try {
            status = Get("/status-json.xsl", false);
        } catch (const std::runtime_error&) {
            break;  // the server itself has gone
        }
        if (status.find(listed) != std::string::npos) {
            sources_.emplace(mount, std::move(source));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop(source, 0);
    throw std::runtime_error("the source for " + mount +
                             " did not appear: " + Tail(ReadFile(source.log)));
}

void IcecastServer::StopSource(std::string mount)
{
    const auto found = sources_.find(Normalized(mount));
    if (found == sources_.end()) return;
    Stop(found->second, 500);
    sources_.erase(found);
}

std::size_t IcecastServer::BurstBytes(std::string mount) const
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    const std::string request = "GET " + Normalized(mount) + " HTTP/1.0\r\nHost: 127.0.0.1:" +
                                std::to_string(port_) + "\r\nUser-Agent: ondalux-test-kit\r\n\r\n";
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        close(fd);
        return 0;
    }
    std::string received;
    std::size_t headEnd = std::string::npos;
    bool audio = false;
    // Until the first audio, then 100 ms more.
    auto deadline = Clock::now() + std::chrono::seconds(3);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd readable{fd, POLLIN, 0};
        if (left <= 0 || poll(&readable, 1, static_cast<int>(left)) <= 0) break;
        char buffer[16384];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        received.append(buffer, static_cast<std::size_t>(got));
        if (headEnd == std::string::npos && (headEnd = received.find("\r\n\r\n")) != std::string::npos)
            headEnd += 4;
        if (!audio && headEnd != std::string::npos && received.size() > headEnd) {
            audio = true;
            deadline = Clock::now() + std::chrono::milliseconds(100);
        }
    }
    close(fd);
    if (!audio || !received.starts_with("HTTP/1.0 200")) return 0;
    return received.size() - headEnd;
}

void IcecastServer::SetTitle(std::string mount, std::string title, std::string charset)
{
    std::string target = "/admin/metadata?mount=" + PercentEncoded(Normalized(mount)) +
                         "&mode=updinfo&song=" + PercentEncoded(title);
    if (!charset.empty()) target += "&charset=" + PercentEncoded(charset);
    const std::string answer = Get(target, true);
    if (answer.find("Metadata update successful") == std::string::npos)
        throw std::runtime_error("Icecast refused the title: " + Tail(answer, 500));
}

std::string IcecastServer::Get(const std::string& target, bool admin) const
{
    std::string request = "GET " + target +
                          " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                          "\r\nUser-Agent: ondalux-test-kit\r\n";
    if (admin)
        request += "Authorization: Basic " + Base64(adminUser_ + ":" + adminPassword_) + "\r\n";
    return RawExchange(port_, request + "\r\n", 1 << 20, 2000);
}

bool IcecastServer::Exited(Process& process)
{
    if (process.pid < 0) return true;
    int status = 0;
    if (waitpid(process.pid, &status, WNOHANG) != process.pid) return false;
    process.pid = -1;
    return true;
}

void IcecastServer::Stop(Process& process, int graceMs)
{
    if (process.pid < 0) return;
    kill(process.pid, graceMs > 0 ? SIGTERM : SIGKILL);
    const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    int status = 0;
    while (waitpid(process.pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(process.pid, SIGKILL);
            waitpid(process.pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    process.pid = -1;
}

}  // namespace kit
