#include "fake_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace kit {

// ---------------------------------------------------------------- scripts

Script& Script::Send(std::string bytes)
{
    steps_.push_back({Action::Send, std::move(bytes)});
    return *this;
}

Script& Script::SendSlowly(std::string bytes, int chunk, int pauseMs)
{
    if (chunk < 1) throw std::invalid_argument("SendSlowly needs a chunk of at least 1 byte");
    steps_.push_back({Action::Send, std::move(bytes), chunk, pauseMs});
    return *this;
}

Script& Script::Pause(int ms)
{
    steps_.push_back({Action::Pause, {}, 0, ms});
    return *this;
}

Script& Script::Close()
{
    steps_.push_back({Action::Close, {}});
    return *this;
}

Script& Script::Reset()
{
    steps_.push_back({Action::Reset, {}});
    return *this;
}

Script& Script::Hang()
{
    steps_.push_back({Action::Hang, {}});
    return *this;
}

Script& Script::Repeat(std::string bytes, int pauseMs)
{
    steps_.push_back({Action::Repeat, std::move(bytes), 0, pauseMs});
    return *this;
}

std::string Script::IcyHead(std::vector<std::string> headerLines)
{
    std::string head = "ICY 200 OK\r\n";
    for (const std::string& line : headerLines)
        head += line + "\r\n";
    return head + "\r\n";
}

std::string Script::HttpHead(int status, std::string reason, std::vector<std::string> headerLines,
                             std::string version)
{
    std::string head = version + " " + std::to_string(status) + " " + reason + "\r\n";
    for (const std::string& line : headerLines)
        head += line + "\r\n";
    return head + "\r\n";
}

// ------------------------------------------------------------ ICY framing

std::string MetadataBlock(std::string_view text)
{
    const std::size_t units = (text.size() + 15) / 16;
    if (units > 255) throw std::invalid_argument("an ICY metadata block holds at most 4080 bytes");
    std::string block(1 + units * 16, '\0');
    block[0] = static_cast<char>(units);
    std::copy(text.begin(), text.end(), block.begin() + 1);
    return block;
}

std::string IcyInterleave(std::string_view audio, std::size_t metaint,
                          std::vector<std::string> metadataBlocks)
{
    if (metaint == 0) throw std::invalid_argument("metaint must be positive");
    std::string body;
    body.reserve(audio.size() + audio.size() / metaint * 2 + 64);
    std::size_t boundary = 0;
    for (std::size_t at = 0; at + metaint <= audio.size(); at += metaint, ++boundary) {
        body.append(audio.substr(at, metaint));
        body += boundary < metadataBlocks.size() ? MetadataBlock(metadataBlocks[boundary])
                                                 : std::string(1, '\0');
    }
    body.append(audio.substr(audio.size() - audio.size() % metaint));
    return body;
}

std::string Chunk(std::string_view piece)
{
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    std::string chunk = size;
    chunk.append(piece);
    return chunk + "\r\n";
}

// ------------------------------------------------------------ socket I/O

namespace {

enum class Io { Ready, Timeout, Gone, Stopped };

// Rounded up, so that a wait never ends before its deadline.
int Remaining(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

// Waits for `events` on fd, for the stop signal on wakeFd (which stays
// readable once set), or for the timeout (-1: none).
Io Wait(int fd, short events, int wakeFd, int timeoutMs)
{
    pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t count = wakeFd >= 0 ? 2 : 1;
    int result;
    do {
        result = poll(fds, count, timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return Io::Gone;
    if (count == 2 && (fds[1].revents & POLLIN)) return Io::Stopped;
    if (result == 0) return Io::Timeout;
    return Io::Ready;
}

Io SendAll(
    int fd, std::string_view bytes, int wakeFd,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max())
{
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int timeout =
                deadline == std::chrono::steady_clock::time_point::max() ? -1 : Remaining(deadline);
            const Io io = Wait(fd, POLLOUT, wakeFd, timeout);
            if (io != Io::Ready) return io;
            continue;
        }
        return Io::Gone;
    }
    return Io::Ready;
}

// Reads and discards whatever the client sends until the deadline, so that a
// client that goes away is noticed during pauses and stalls.
Io Idle(int fd, int wakeFd, std::chrono::steady_clock::time_point deadline, bool forever)
{
    for (;;) {
        const int timeout = forever ? -1 : Remaining(deadline);
        const Io io = Wait(fd, POLLIN, wakeFd, timeout);
        if (io == Io::Timeout && std::chrono::steady_clock::now() < deadline) continue;
        if (io != Io::Ready) return io == Io::Timeout ? Io::Ready : io;
        char scratch[4096];
        const ssize_t got = recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (got == 0) return Io::Gone;
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return Io::Gone;
        if (!forever && std::chrono::steady_clock::now() >= deadline) return Io::Ready;
    }
}

Io Sleep(int fd, int wakeFd, int ms)
{
    if (ms <= 0) return Io::Ready;
    return Idle(fd, wakeFd, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms),
                false);
}

// Discards unread input first: closing a socket with unread data makes the
// kernel send RST, which could destroy the last bytes the client has not read.
void CloseInOrder(int fd)
{
    char scratch[4096];
    for (int i = 0; i < 256 && recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0; ++i) {
    }
    shutdown(fd, SHUT_WR);
    close(fd);
}

void CloseWithReset(int fd)
{
    linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
}

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int BoundPort(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

std::runtime_error SystemError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

constexpr std::size_t kMaxRequestHead = 64 * 1024;

std::size_t HeadEnd(const std::string& bytes)
{
    const std::size_t crlf = bytes.find("\r\n\r\n");
    const std::size_t lf = bytes.find("\n\n");
    if (crlf == std::string::npos && lf == std::string::npos) return std::string::npos;
    if (lf == std::string::npos || (crlf != std::string::npos && crlf < lf)) return crlf + 4;
    return lf + 2;
}

// "GET /a?b HTTP/1.1" gives "/a?b".
std::string RequestTarget(const std::string& head)
{
    const std::string line = head.substr(0, head.find_first_of("\r\n"));
    const std::size_t start = line.find(' ');
    if (start == std::string::npos) return {};
    const std::size_t end = line.find(' ', start + 1);
    return line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

}  // namespace

int UnusedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw SystemError("socket");
    sockaddr_in address = Loopback(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        throw SystemError("bind 127.0.0.1:0");
    }
    const int port = BoundPort(fd);
    close(fd);
    return port;
}

std::string RawExchange(int port, std::string_view request, std::size_t maxBytes, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw SystemError("socket");
    sockaddr_in address = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const std::runtime_error error = SystemError("connect 127.0.0.1:" + std::to_string(port));
        close(fd);
        throw error;
    }
    std::string answer;
    if (SendAll(fd, request, -1, deadline) == Io::Ready) {
        while (answer.size() < maxBytes && Wait(fd, POLLIN, -1, Remaining(deadline)) == Io::Ready) {
            char buffer[16384];
            const std::size_t want = std::min(sizeof buffer, maxBytes - answer.size());
            const ssize_t got = recv(fd, buffer, want, MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (got <= 0) break;
            answer.append(buffer, static_cast<std::size_t>(got));
        }
    }
    close(fd);
    return answer;
}

// ------------------------------------------------------------ the server

struct FakeServer::State {
    struct Routing {
        std::vector<std::shared_ptr<const Script>> scripts;
        std::size_t hits = 0;
    };
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    int listenFd = -1;
    int wakeFd = -1;
    int port = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable requestArrived;
    std::map<std::string, Routing> routes;
    std::shared_ptr<const Script> fallback;
    std::vector<std::string> requests;
    int connections = 0;
    int openConnections = 0;
    int hangingConnections = 0;

    // Touched by the accepting thread only, and by the destructor after it.
    std::list<Worker> workers;
    std::thread acceptor;

    std::shared_ptr<const Script> ScriptFor(const std::string& target)
    {
        std::lock_guard lock(mutex);
        const auto found = routes.find(target);
        if (found == routes.end()) return fallback;
        Routing& routing = found->second;
        const std::size_t index = std::min(routing.hits, routing.scripts.size() - 1);
        ++routing.hits;
        return routing.scripts[index];
    }

    void AcceptLoop()
    {
        for (;;) {
            if (Wait(listenFd, POLLIN, wakeFd, -1) != Io::Ready) return;
            const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) continue;  // the client gave up before we took it, or EMFILE
            {
                std::lock_guard lock(mutex);
                ++connections;
                ++openConnections;
            }
            workers.remove_if([](Worker& worker) {
                if (!worker.done->load()) return false;
                worker.thread.join();
                return true;
            });
            auto done = std::make_shared<std::atomic<bool>>(false);
            workers.push_back({std::thread([this, fd, done] {
                                   Serve(fd);
                                   done->store(true);
                               }),
                               done});
        }
    }

    void Serve(int fd)
    {
        std::string head;
        if (ReadHead(fd, head)) {
            const std::shared_ptr<const Script> script = ScriptFor(RequestTarget(head));
            {
                std::lock_guard lock(mutex);
                requests.push_back(head);
            }
            requestArrived.notify_all();
            Run(fd, *script);
        } else {
            CloseInOrder(fd);
        }
        std::lock_guard lock(mutex);
        --openConnections;
    }

    bool ReadHead(int fd, std::string& head)
    {
        std::string bytes;
        while (bytes.size() < kMaxRequestHead) {
            if (Wait(fd, POLLIN, wakeFd, -1) != Io::Ready) return false;
            char buffer[4096];
            const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (got <= 0) return false;
            bytes.append(buffer, static_cast<std::size_t>(got));
            const std::size_t end = HeadEnd(bytes);
            if (end != std::string::npos) {
                head = bytes.substr(0, end);
                return true;
            }
        }
        return false;
    }

    void Counted(int& count, int change)
    {
        std::lock_guard lock(mutex);
        count += change;
    }

    // Runs the script and closes the connection; a step that finds the client
    // gone or the server stopping ends it early.
    void Run(int fd, const Script& script)
    {
        for (const Script::Step& step : script.Steps()) {
            Io io = Io::Ready;
            switch (step.action) {
                case Script::Action::Send:
                    io = SendStep(fd, step);
                    break;
                case Script::Action::Pause:
                    io = Sleep(fd, wakeFd, step.pauseMs);
                    break;
                case Script::Action::Close:
                    CloseInOrder(fd);
                    return;
                case Script::Action::Reset:
                    CloseWithReset(fd);
                    return;
                case Script::Action::Hang:
                    Counted(hangingConnections, 1);
                    Idle(fd, wakeFd, {}, true);
                    Counted(hangingConnections, -1);
                    CloseInOrder(fd);
                    return;
                case Script::Action::Repeat:
                    while ((io = SendAll(fd, step.bytes, wakeFd)) == Io::Ready &&
                           (io = Sleep(fd, wakeFd, step.pauseMs)) == Io::Ready) {
                    }
                    break;
            }
            if (io == Io::Gone) {
                close(fd);
                return;
            }
            if (io == Io::Stopped) break;
        }
        CloseInOrder(fd);
    }

    Io SendStep(int fd, const Script::Step& step)
    {
        if (step.chunk == 0) return SendAll(fd, step.bytes, wakeFd);
        std::string_view rest = step.bytes;
        while (!rest.empty()) {
            const std::size_t piece = std::min(rest.size(), static_cast<std::size_t>(step.chunk));
            Io io = SendAll(fd, rest.substr(0, piece), wakeFd);
            rest.remove_prefix(piece);
            if (io == Io::Ready && !rest.empty()) io = Sleep(fd, wakeFd, step.pauseMs);
            if (io != Io::Ready) return io;
        }
        return Io::Ready;
    }
};

namespace {

Script NotFound()
{
    const std::string body = "Not Found\n";
    return Script()
        .Send(Script::HttpHead(
                  404, "Not Found",
                  {"Content-Type: text/plain", "Content-Length: " + std::to_string(body.size())}) +
              body)
        .Close();
}

}  // namespace

FakeServer::FakeServer() : state_(std::make_shared<State>())
{
    State& state = *state_;
    state.fallback = std::make_shared<const Script>(NotFound());
    state.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state.wakeFd < 0) throw SystemError("eventfd");
    state.listenFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (state.listenFd < 0) {
        close(state.wakeFd);
        throw SystemError("socket");
    }
    const int on = 1;
    setsockopt(state.listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = Loopback(0);
    if (bind(state.listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(state.listenFd, 64) != 0) {
        const std::runtime_error error = SystemError("listen on 127.0.0.1");
        close(state.listenFd);
        close(state.wakeFd);
        throw error;
    }
    state.port = BoundPort(state.listenFd);
    state.acceptor = std::thread([&state] { state.AcceptLoop(); });
}

FakeServer::~FakeServer()
{
    State& state = *state_;
    const std::uint64_t one = 1;
    if (write(state.wakeFd, &one, sizeof one) != sizeof one) std::perror("eventfd write");
    state.acceptor.join();
    for (State::Worker& worker : state.workers)
        worker.thread.join();
    close(state.listenFd);
    close(state.wakeFd);
}

int FakeServer::Port() const
{
    return state_->port;
}

std::string FakeServer::Url(std::string_view path) const
{
    return "http://127.0.0.1:" + std::to_string(state_->port) + std::string(path);
}

void FakeServer::Route(std::string path, Script script)
{
    RouteSequence(std::move(path), {std::move(script)});
}

void FakeServer::RouteSequence(std::string path, std::vector<Script> scripts)
{
    if (scripts.empty()) throw std::invalid_argument("RouteSequence needs at least one script");
    State::Routing routing;
    for (Script& script : scripts)
        routing.scripts.push_back(std::make_shared<const Script>(std::move(script)));
    std::lock_guard lock(state_->mutex);
    state_->routes[std::move(path)] = std::move(routing);
}

void FakeServer::SetFallback(Script script)
{
    auto shared = std::make_shared<const Script>(std::move(script));
    std::lock_guard lock(state_->mutex);
    state_->fallback = std::move(shared);
}

std::vector<std::string> FakeServer::Requests() const
{
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

bool FakeServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(state_->mutex);
    return state_->requestArrived.wait_for(lock, timeout,
                                           [&] { return state_->requests.size() >= count; });
}

int FakeServer::ConnectionCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->connections;
}

int FakeServer::OpenConnectionCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->openConnections;
}

int FakeServer::HangingConnectionCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->hangingConnections;
}

SilentServer::SilentServer()
{
    server_.SetFallback(Script().Hang());
}

}  // namespace kit
