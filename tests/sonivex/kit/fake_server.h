// A fake stream server for network tests: a test case is data, the exact bytes
// the server sends on one connection, with pauses, drops and stalls between
// them. Everything listens on 127.0.0.1 only, on a port the system picks.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

// What the server does on one connection once it has read the request head
// (everything up to the blank line). The steps run in order; a script that
// ends without Close, Reset or Hang closes the connection at its end. Every
// step ends early when the client goes away or the server is destroyed.
class Script {
public:
    Script& Send(std::string bytes);
    // Sends the bytes in pieces of `chunk` bytes with a pause after each piece
    // but the last; a chunk of 1 exercises every read boundary of a client.
    Script& SendSlowly(std::string bytes, int chunk, int pauseMs);
    Script& Pause(int ms);
    // Closes the connection in order (FIN): a server that drops a listener.
    Script& Close();
    // Aborts the connection (RST): the client sees "connection reset".
    Script& Reset();
    // Keeps the connection open and silent: a stalled live stream.
    Script& Hang();
    // Sends the same bytes again and again with a pause between: an endless
    // live stream. Nothing after Repeat runs.
    Script& Repeat(std::string bytes, int pauseMs);

    // "ICY 200 OK\r\n" + each line + "\r\n", then the blank line.
    static std::string IcyHead(std::vector<std::string> headerLines);
    // "<version> <status> <reason>\r\n" + each line + "\r\n", then the blank
    // line; version is "HTTP/1.0" or "HTTP/1.1" (any text is taken as is).
    static std::string HttpHead(int status, std::string reason,
                                std::vector<std::string> headerLines,
                                std::string version = "HTTP/1.0");

    enum class Action { Send, Pause, Close, Reset, Hang, Repeat };
    struct Step {
        Action action;
        std::string bytes;
        int chunk = 0;
        int pauseMs = 0;
    };
    const std::vector<Step>& Steps() const { return steps_; }

private:
    std::vector<Step> steps_;
};

// One ICY metadata block: the length byte L = ceil(size / 16), then the text
// zero-padded to 16 * L bytes. An empty text gives the single byte 0; a text
// of 4080 bytes gives the length byte 255. Longer texts throw
// std::invalid_argument.
std::string MetadataBlock(std::string_view text);

// An ICY body: after every `metaint` audio bytes one metadata block; the i-th
// boundary carries metadataBlocks[i] (texts, not yet framed), later
// boundaries the byte 0. A trailing part shorter than metaint gets no block,
// so for Repeat the audio length should be a multiple of metaint.
std::string IcyInterleave(std::string_view audio, std::size_t metaint,
                          std::vector<std::string> metadataBlocks);

// The piece framed as one chunk of chunked transfer encoding; an empty piece
// gives the last chunk "0\r\n\r\n".
std::string Chunk(std::string_view piece);

// A port on 127.0.0.1 where nothing listens, for "connection refused".
int UnusedPort();

// Sends `request` to 127.0.0.1:port with a plain socket and returns what
// comes back until the server closes, maxBytes arrive or timeoutMs passes.
// Throws std::runtime_error when the connection cannot be made.
std::string RawExchange(int port, std::string_view request, std::size_t maxBytes = 1 << 20,
                        int timeoutMs = 2000);

// Serves scripts by request target on a background thread, one thread per
// connection. All member functions may be called from any thread. The
// destructor closes every open connection and joins all threads within
// about 100 ms.
class FakeServer {
public:
    FakeServer();
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int Port() const;
    // "http://127.0.0.1:PORT" + path.
    std::string Url(std::string_view path = "/") const;

    // Serves the script for every request whose target is exactly `path`
    // (query included; a proxy request's absolute target such as
    // "http://radio.example/live" is matched the same way).
    void Route(std::string path, Script script);
    // The n-th request for `path` gets the n-th script; the last one repeats.
    void RouteSequence(std::string path, std::vector<Script> scripts);
    // The script for requests that match no route; by default the server
    // answers "HTTP/1.0 404 Not Found" and closes.
    void SetFallback(Script script);

    // The request heads received so far, in order of arrival: the bytes up to
    // and including the blank line, exactly as sent.
    std::vector<std::string> Requests() const;
    // Waits until at least `count` request heads have arrived.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // Connections accepted so far.
    int ConnectionCount() const;
    // Connections still open: one that a client closed, or that the server's
    // script ended, no longer counts.
    int OpenConnectionCount() const;
    // Connections whose script has reached its Hang: everything before it
    // has been sent, and the server only waits for the client to go.
    int HangingConnectionCount() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Accepts connections, reads whatever arrives and never answers: for the
// time limit on a server that connects but stays silent.
class SilentServer {
public:
    SilentServer();
    int Port() const { return server_.Port(); }
    std::string Url(std::string_view path = "/") const { return server_.Url(path); }
    int ConnectionCount() const { return server_.ConnectionCount(); }
    int OpenConnectionCount() const { return server_.OpenConnectionCount(); }
    // Connections whose request head has arrived (and that wait for ever).
    int HangingConnectionCount() const { return server_.HangingConnectionCount(); }

private:
    FakeServer server_;
};

}  // namespace kit
